#pragma once

#include <vector>

#include "app/ProfileSession.h"
#include "app/QueryRequest.h"
#include "dicom/net/DicomPeer.h"

namespace lumo::app {

// What a DICOM node says at association time, for its profile: the FIND
// services it accepts from this calling AE title (one association proposing
// the three models), and for each accepted model which extended
// negotiation options it accepts — relational queries, combined date-time
// matching, fuzzy semantic matching of person names, timezone adjustment,
// enhanced multi-frame image conversion — each proposed alone, one
// association per option. Its findings go into the session. Returns the
// levels a battery can query; none when no model was accepted (the
// profile's failure then says why). On the session's thread.
std::vector<QueryLevel> ProfileNegotiation(ProfileSession& session, const dicom::DicomPeer& peer);

}  // namespace lumo::app
