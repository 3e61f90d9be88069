// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/RequestFraming.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

constexpr size_t none = std::string_view::npos;

bool sameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x))
                      == std::tolower(static_cast<unsigned char>(y));
           });
}

bool startsWithText(std::string_view text, std::string_view start)
{
    return text.size() >= start.size() && sameText(text.substr(0, start.size()), start);
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// The length of the head with its blank line; clients of old end lines with a bare LF.
size_t headLength(std::string_view b)
{
    const size_t crlf = b.find("\r\n\r\n");
    const size_t lf = b.find("\n\n");
    if (crlf == none && lf == none)
        return none;
    return crlf < lf ? crlf + 4 : lf + 2;
}

} // namespace

RequestFraming::Frame RequestFraming::frame(std::string_view bytes) const
{
    using enum State;
    Frame f;
    const size_t lineEnd = bytes.find('\n');
    if ((lineEnd == none ? bytes.size() : lineEnd) > maxRequestLineBytes) {
        f.state = UriTooLong;
        return f;
    }
    const size_t head = headLength(bytes);
    if (head == none || head > maxHeaderBytes) {
        f.state = bytes.size() > maxHeaderBytes ? HeadersTooLarge : Partial;
        return f;
    }
    f.headBytes = head;

    bool lengthGiven = false, encoded = false;
    size_t contentLength = 0;
    for (size_t at = lineEnd + 1; at < head;) {
        const size_t end = bytes.find('\n', at);
        const std::string_view line = bytes.substr(at, end + 1 - at);
        at = end + 1;
        const size_t colon = line.find(':');
        if (colon == none)
            continue; // the blank line, or what the library will refuse
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (sameText(name, "Content-Length")) {
            // Digits only, and one length: two that differ would let a proxy and us disagree
            // on where the next request begins.
            size_t length = 0;
            const auto [digitsEnd, error] =
                std::from_chars(value.data(), value.data() + value.size(), length);
            if (value.empty() || error != std::errc() || digitsEnd != value.data() + value.size()) {
                f.state = Malformed;
                return f;
            }
            if (lengthGiven && length != contentLength) {
                f.state = Malformed;
                return f;
            }
            lengthGiven = true;
            contentLength = length;
        } else if (sameText(name, "Transfer-Encoding")) {
            encoded = true;
        } else if (sameText(name, "Expect") && sameText(value, "100-continue")) {
            f.expectLine = line;
        } else if (sameText(name, "Content-Type") && startsWithText(value, "multipart/")) {
            f.upload = true;
        }
    }

    if (f.upload) {
        f.length = head;
        f.state = Complete;
        return f;
    }
    // Forms are short and sent with their length; a chunked body would have to be decoded
    // here to know where it ends, and no browser sends one.
    if (encoded) {
        f.state = LengthRequired;
        return f;
    }
    if (contentLength > maxBodyBytes) {
        f.state = BodyTooLarge;
        return f;
    }
    f.length = head + contentLength;
    f.state = bytes.size() >= f.length ? Complete : Partial;
    return f;
}
