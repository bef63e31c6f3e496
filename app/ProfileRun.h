#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <stop_token>

#include "app/NodeProfile.h"
#include "app/QueryRequest.h"

namespace lumo::app {

// The bounds of a profile: however much the node holds, it sends at most
// `maxQueries` queries and starts none after `maxTime`; what is left is
// "non mesuré". The timed query runs `repeat` times.
struct ProfileOptions {
    int repeat = 1;
    std::size_t maxQueries = 140;
    std::chrono::seconds maxTime{120};
};

// Profiles the node of `base` over its transport: the services it offers
// and its answers to extended negotiation (DIMSE), or the searches its
// DICOMweb service answers (QIDO-RS: study, series and image levels), then,
// level by level, a few real entries found with broad queries cut short (a
// C-CANCEL, or QIDO-RS's limit), a battery of small queries built from their
// values, each with an answer known in advance, and the timed query. What
// has no meaning over the transport is said not measured, with why. Sends nothing that changes the
// node. Raises nothing: a node that cannot be profiled gives a profile that
// says why (reached false). `stop` ends it early (the query under way is
// cancelled); `progress` sees the count of queries sent after each one.
// On the calling thread.
NodeProfile RunProfile(const QueryRequest& base, const ProfileOptions& options,
                       std::stop_token stop = {},
                       const std::function<void(int queries)>& progress = nullptr);

}  // namespace lumo::app
