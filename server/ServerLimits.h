// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>

// What keeps one client from starving the rest: time limits on each part of a request, not
// caps per address, since a school's computer room or Wi-Fi gateway is one address.
struct ServerLimits {
    size_t workers = 32;                 // pages run at once; the others wait their turn
    size_t maxWaitingConnections = 4000; // open connections; beyond, 503
    size_t maxRequestLineBytes = 16 * 1024;
    size_t maxHeaderBytes = 16 * 1024;
    size_t maxBodyBytes = 64 * 1024; // the site's forms are a few fields and a remark
    int keepAliveSeconds = 5;        // an idle connection between requests
    int headerSeconds = 10;          // a request's headers must all arrive within this
    int bodySeconds = 30;            // and its body within this,
    int bodyPauseSeconds = 10;       // never pausing this long
    int answerPauseSeconds = 10;     // a client that takes none of its answer for this long is dropped
};
