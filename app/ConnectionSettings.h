#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/QueryRequest.h"
#include "app/TControls.h"
#include "dicom/net/DicomPeer.h"

// The connection settings beyond the node's address: the three timeouts, in
// whole seconds, the largest PDU this side takes, in bytes, and the number of
// responses a query takes before it is cancelled (0: all). Each has its
// field on the Diagnostic tab, its option on the command line and its value
// in the settings store; one table gives their names and bounds. Listen
// mode's bounds (associations in all and per address, relayed queries
// under way) have their value in the store and their option, but no field.
// The window's settings are read from and written to the store here too.
// Stateless but for ConnectionFields; any thread.
namespace lumo::app {

enum class ConnectionSetting {
    ConnectTimeout,
    AssocTimeout,
    ResponseTimeout,
    MaxPdu,
    MaxResults,
    MaxAssociations,
    MaxAssociationsPerAddress,
    MaxRelayedQueries,
};

inline constexpr ConnectionSetting kConnectionSettings[] = {
    ConnectionSetting::ConnectTimeout, ConnectionSetting::AssocTimeout,
    ConnectionSetting::ResponseTimeout, ConnectionSetting::MaxPdu, ConnectionSetting::MaxResults};

// Listen mode's own, without a field.
inline constexpr ConnectionSetting kListenSettings[] = {
    ConnectionSetting::MaxAssociations, ConnectionSetting::MaxAssociationsPerAddress,
    ConnectionSetting::MaxRelayedQueries};

// The values the settings stand for, as a request carries them.
struct ConnectionValues {
    dicom::DicomTimeouts timeouts;
    std::uint32_t maxPdu = dicom::kDefaultMaxPdu;
    std::uint32_t maxResults = 0;  // 0: no limit
};

// What listen mode holds at once: associations in all and from one caller
// address (beyond them a caller is refused), and relayed queries under way
// (beyond it a caller's query waits for a place).
struct ListenBounds {
    std::uint32_t maxAssociations = 32;
    std::uint32_t maxAssociationsPerAddress = 8;
    std::uint32_t maxRelayedQueries = 8;
};

// Its name in the store, section "FormTestWL" ("ConnectTimeout").
const char* SettingName(ConnectionSetting setting);
// The design name of its field ("EditConnectTimeout"); empty for listen
// mode's own.
const char* SettingField(ConnectionSetting setting);
// The command line's option of a listen mode setting ("max-associations"),
// and the setting an option names.
std::string SettingOption(ConnectionSetting setting);
std::optional<ConnectionSetting> ListenSettingOfOption(std::string_view option);
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

// The section of the store that holds the window's settings.
inline constexpr const char* kSettingsSection = "FormTestWL";

// The node and modality of the input block, as stored ("IP", "Port",
// "AETitle", "CallingAETitle", "Modalite").
struct NodeSettings {
    std::string ip;
    std::string port;
    std::string aeTitle;
    std::string callingAETitle;
    std::string modality;
};
// The fields that show them.
struct NodeFields {
    std::string& ip;
    std::string& port;
    std::string& aeTitle;
    std::string& callingAETitle;
    std::string& modality;
};
// The stored values into the fields, one by one in the order above (a value
// of the wrong type raises where it is met, the fields before it set);
// without a stored address the other three connection values mean nothing,
// and all four take the `defaults` together.
void ReadNodeSettings(const NodeFields& fields, const NodeSettings& defaults);
void WriteNodeSettings(const NodeSettings& settings);

// `values` with the stored connection settings put in; a stored value out
// of bounds keeps the one in `values`, and the log says so.
ConnectionValues ReadConnectionValues(ConnectionValues values);
void WriteConnectionValues(const ConnectionValues& values);

// `bounds` with the stored listen mode settings put in; a stored value out
// of bounds keeps the one in `bounds`, and the log says so.
ListenBounds ReadListenBounds(ListenBounds bounds);
void WriteListenBounds(const ListenBounds& bounds);
// One of them, by setting.
std::uint32_t& ListenBound(ConnectionSetting setting, ListenBounds& bounds);

// A size bound in bytes stored under `name` (MaxResponseBytes,
// MaxIdentifierBytes): a value that is no whole number of at least a
// kilobyte keeps `fallback`, and the log says so.
std::size_t ReadByteLimit(const char* name, std::size_t fallback);

// The TLS settings as the fields hold them.
struct TlsSettings {
    bool enabled = false;
    std::string certificateFile;
    std::string privateKeyFile;
    std::string trusted;
    std::string verify;
    std::string profile;
};
// The stored TLS settings; a stored verification or profile that is not
// one of the list keeps the one of `defaults`, and the log says so.
TlsSettings ReadTlsSettings(const TlsSettings& defaults);
void WriteTlsSettings(const TlsSettings& settings);
// The settings as a request takes them; a verification or profile that is
// not one of the list raises EConvertError.
dicom::DicomTls TlsOfSettings(const TlsSettings& settings);

// The DICOMweb settings of the Diagnostic tab as the fields hold them, by
// their names in the store (section "FormTestWL"): DicomWebURL, Transport
// ("DIMSE" or "DICOMweb"), HttpUser. No secret is among them: the password
// and the token come from the environment only.
struct DicomWebSettings {
    std::string url;
    std::string transport;
    std::string user;
};
// The stored settings; a stored transport that is not one of the two keeps
// the one of `defaults`, and the log says so.
DicomWebSettings ReadDicomWebSettings(const DicomWebSettings& defaults);
void WriteDicomWebSettings(const DicomWebSettings& settings);
// The transport a text names ("DIMSE", "DICOMweb", any case); anything else
// raises lumo::Exception(EConvertError, <what is accepted>).
QueryTransport ParseTransport(const std::string& text);

// The retrieval's settings as the tab "Récupération" holds them, by their
// names in the store (section "FormTestWL"): MoveDestination, StorePort,
// StoreFolder.
struct RetrievalSettings {
    std::string moveDestination;
    std::string storePort;
    std::string storeFolder;
};
// The stored ones, each in place of its default when stored and not empty.
RetrievalSettings ReadRetrievalSettings(const RetrievalSettings& defaults);
void WriteRetrievalSettings(const RetrievalSettings& settings);

// The five fields that show the connection settings, and what each showed
// when last set from the values in force: a field the operator changed
// since overrides its value, one left as shown keeps the value in force
// (which a caller may have set itself). Holds the fields by reference; the
// form's thread.
class ConnectionFields {
  public:
    // In the order of kConnectionSettings.
    explicit ConnectionFields(const std::array<TEdit*, std::size(kConnectionSettings)>& fields);

    void Show(const ConnectionValues& values);
    // `values` with the changed fields put in; a changed field out of
    // bounds raises EConvertError, before anything is sent.
    void Apply(ConnectionValues& values) const;
    // The same, a field out of bounds left out: what is stored at the end.
    void ApplyValid(ConnectionValues& values) const;

  private:
    std::array<TEdit*, std::size(kConnectionSettings)> fields_;
    std::vector<std::string> shown_;
};

}  // namespace lumo::app
