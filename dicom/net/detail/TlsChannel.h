#pragma once

// Private to dicom/: one TLS session over a connected socket, driven step
// by step so that the connection around it decides how long each wait may
// last and what cuts it short (a deadline, a stop, the listener's end).

#include <chrono>
#include <cstddef>
#include <string>

#include "dicom/net/AssociationReport.h"
#include "dicom/net/DicomTls.h"
#include "dicom/net/detail/TlsWords.h"

struct ssl_st;

namespace lumo::dicom::detail {

class TlsContext;

// What a step of the session came to: done, a wait for the socket, the
// other side's end of the connection, or a failure (Failure says why).
enum class TlsStep { Done, WantRead, WantWrite, Closed, Failed };

// One TLS session. Makes its socket non-blocking, so no call ever waits;
// checks the other side's certificate as the context's settings ask, a
// node's against the address called; keeps the first fault the check met
// so that the failure can be told in words. Owns the OpenSSL session; the
// socket stays its connection's. Used on the connection's thread.
class TlsChannel {
  public:
    TlsChannel(const TlsContext& context, int socket, const std::string& peerAddress);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    TlsStep Handshake();
    // `got` or `put` bytes moved when Done.
    TlsStep Read(void* buffer, std::size_t size, std::size_t& got);
    TlsStep Write(const void* buffer, std::size_t size, std::size_t& put);
    // All of the bytes, waiting up to `wait` each time the socket takes
    // nothing: Done, Closed or Failed, or the wait's step when it ran out.
    TlsStep WriteAll(const void* buffer, std::size_t size, std::chrono::milliseconds wait);
    // Whether decrypted bytes wait to be read, with nothing on the socket.
    bool Pending() const;
    // Says goodbye (one close_notify), without waiting for an answer.
    void Close() noexcept;

    // Why the last step failed, or why the other side's close ended the
    // handshake, in words the operator can act on.
    std::string Failure(bool handshaking) const;
    // The session as the handshake settled it.
    void Describe(TlsReport& report) const;

    // The first fault the certificate check met, at `certificate` of the
    // chain that starts at `leaf` (OpenSSL's verification callback; public
    // for that callback only).
    void NoteFault(int error, void* certificate, void* leaf);

  private:
    TlsStep StepOf(int result);
    std::string Other() const;
    TlsSideFacts SideFacts() const;

    const TlsContext& context_;
    const std::string peerAddress_;
    const int socket_;
    ssl_st* ssl_ = nullptr;
    unsigned long sslError_ = 0;  // OpenSSL's first error of the last step
    int sysError_ = 0;            // errno of the last step's socket failure
    bool closedAbruptly_ = false;
    CertificateFault fault_;
};

// Waits up to `wait` for `socket` to be ready as `step` asks (or ended), or
// for `wakeFd` to be readable when it is not -1; true when the socket is.
bool WaitForSocket(int socket, TlsStep step, int wakeFd, std::chrono::milliseconds wait);

}  // namespace lumo::dicom::detail
