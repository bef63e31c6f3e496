#include "dicom/net/detail/SocketOptions.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace lumo::dicom::detail {

void SendAtOnce(int socket) {
    const int on = 1;
    if (socket >= 0) (void)::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void AckAtOnce(int socket) {
    const int on = 1;
    if (socket >= 0) (void)::setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

}  // namespace lumo::dicom::detail
