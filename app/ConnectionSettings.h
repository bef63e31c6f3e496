#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dicom/net/DicomPeer.h"

// The connection settings beyond the node's address: the three timeouts, in
// whole seconds, the largest PDU this side takes, in bytes, and the number of
// responses a query takes before it is cancelled (0: all). Each has its
// field on the Diagnostic tab, its option on the command line and its value
// in the settings store; one table gives their names and bounds. Stateless;
// any thread.
namespace lumo::app {

enum class ConnectionSetting { ConnectTimeout, AssocTimeout, ResponseTimeout, MaxPdu, MaxResults };

inline constexpr ConnectionSetting kConnectionSettings[] = {
    ConnectionSetting::ConnectTimeout, ConnectionSetting::AssocTimeout,
    ConnectionSetting::ResponseTimeout, ConnectionSetting::MaxPdu, ConnectionSetting::MaxResults};

// The values the settings stand for, as a request carries them.
struct ConnectionValues {
    dicom::DicomTimeouts timeouts;
    std::uint32_t maxPdu = dicom::kDefaultMaxPdu;
    std::uint32_t maxResults = 0;  // 0: no limit
};

// Its name in the store, section "FormTestWL" ("ConnectTimeout").
const char* SettingName(ConnectionSetting setting);
// The design name of its field ("EditConnectTimeout").
const char* SettingField(ConnectionSetting setting);
// The setting a field holds, if it holds one.
std::optional<ConnectionSetting> SettingOfField(std::string_view fieldName);

// The value a field's text gives, within the setting's bounds; anything
// else raises lumo::Exception(ErrorClass::EConvertError, <which setting,
// the text, and what it must be>), before anything is sent.
std::uint32_t ParseSetting(ConnectionSetting setting, const std::string& text);

// The setting's value in the connection's terms, and back.
std::uint32_t SettingValue(ConnectionSetting setting, const ConnectionValues& values);
void ApplySetting(ConnectionSetting setting, std::uint32_t value, ConnectionValues& values);

// The TLS settings of the queries' side, by their names in the store
// (section "FormTestWL"): TLS ("1" on, "0" off), TLSCert, TLSKey, TLSCA,
// TLSVerify, TLSProfile. The key's password is never among them.
inline constexpr const char* kTlsSettingNames[] = {"TLS",   "TLSCert",   "TLSKey",
                                                   "TLSCA", "TLSVerify", "TLSProfile"};

// The verification or the profile a text names ("require", "bcp195-nd");
// anything else raises lumo::Exception(ErrorClass::EConvertError, <what is
// accepted>), before anything is sent.
dicom::TlsVerify ParseTlsVerify(const std::string& text);
dicom::TlsProfile ParseTlsProfile(const std::string& text);

}  // namespace lumo::app
