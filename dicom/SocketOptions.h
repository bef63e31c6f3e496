#pragma once

// Private to dicom/: options every socket of the toolkit layer gets, the
// console's own connections and those the listener accepts alike, set in
// this one place as each connection is made.

namespace lumo::dicom::detail {

// A DIMSE message goes out as two writes, command then data set; with
// Nagle's algorithm the second waits for the peer's delayed
// acknowledgement, some 40 ms on every request and every response. Only a
// matter of speed: a socket that refuses the option works as before.
void SendAtOnce(int socket);

}  // namespace lumo::dicom::detail
