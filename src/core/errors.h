#pragma once

#include <stdexcept>
#include <string>

#include <fmt/format.h>

namespace vntx {

// A problem the user must fix. Its message is "{code}: {text}", or the text
// alone for code 99.
class UserErrorException : public std::runtime_error {
public:
    UserErrorException(int code, const std::string& text)
        : std::runtime_error(code == 99 ? text : fmt::format("{}: {}", code, text)), code_(code), text_(text) {}
    int code() const { return code_; }
    const std::string& text() const { return text_; }

private:
    int code_;
    std::string text_;
};

}  // namespace vntx
