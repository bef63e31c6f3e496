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

// The other half of that wait, on the sockets the listener accepts: a
// caller that leaves Nagle's algorithm on (dcmtk's findscu does) holds the
// data set of its request until this side acknowledges the command, which
// Linux delays by some 40 ms. Asks for the acknowledgements at once; the
// kernel drops back to delaying them after a while, so it is asked again
// after every read. Only a matter of speed.
void AckAtOnce(int socket);

}  // namespace lumo::dicom::detail
