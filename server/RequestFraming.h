// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string_view>

// Where one HTTP request ends among the bytes a connection has sent so far, so that a request
// is read whole before anything runs it.
struct RequestFraming {
    size_t maxRequestLineBytes = 16 * 1024;
    size_t maxHeaderBytes = 16 * 1024;
    size_t maxBodyBytes = 64 * 1024;

    enum class State {
        Partial,         // more is to come
        Complete,        // `length` bytes make the request
        Malformed,       // 400
        LengthRequired,  // 411: a body without a Content-Length
        BodyTooLarge,    // 413
        UriTooLong,      // 414
        HeadersTooLarge, // 431
    };

    struct Frame {
        State state = State::Partial;
        size_t headBytes = 0; // the head with its blank line, once it has come
        size_t length = 0;    // head and body, once the head has come
        // The client waits for "100 Continue" before it sends the body; this line of the head
        // asks for it (empty when it does not).
        std::string_view expectLine;
        // A file upload, which the site refuses without reading it: its body is not waited
        // for, and `length` is the head alone.
        bool upload = false;
    };

    Frame frame(std::string_view bytes) const;
};
