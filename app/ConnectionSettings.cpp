#include "app/ConnectionSettings.h"

#include <algorithm>
#include <charconv>
#include <chrono>

#include "logging/uApplicationLogger.h"
#include "support/Exception.h"
#include "support/Global_Registry.h"

namespace lumo::app {

namespace {

struct SettingFacts {
    ConnectionSetting setting;
    const char* name;
    const char* field;
    const char* what;  // as a message names it
    const char* unit;  // "de secondes"
    std::uint32_t least;
    std::uint32_t most;
};

// A day bounds every wait: DCMTK counts in whole seconds, and a longer wait
// is a typing error.
constexpr SettingFacts kFacts[] = {
    {ConnectionSetting::ConnectTimeout, "ConnectTimeout", "EditConnectTimeout",
     "Délai de connexion", "de secondes", 1, 86400},
    {ConnectionSetting::AssocTimeout, "AssocTimeout", "EditAssocTimeout", "Délai d'association",
     "de secondes", 1, 86400},
    {ConnectionSetting::ResponseTimeout, "ResponseTimeout", "EditResponseTimeout",
     "Délai de réponse", "de secondes", 1, 86400},
    {ConnectionSetting::MaxPdu, "MaxPDU", "EditMaxPDU", "PDU max", "d'octets",
     dicom::kSmallestMaxPdu, dicom::kLargestMaxPdu},
    {ConnectionSetting::MaxResults, "MaxResults", "EditMaxResults", "Max. réponses", "de réponses",
     0, 4294967295u},
    {ConnectionSetting::MaxAssociations, "MaxAssociations", "", "Associations max.",
     "d'associations", 1, 1024},
    {ConnectionSetting::MaxAssociationsPerAddress, "MaxAssociationsPerAddress", "",
     "Associations max. par adresse", "d'associations", 1, 1024},
    {ConnectionSetting::MaxRelayedQueries, "MaxRelayedQueries", "", "Requêtes relayées max.",
     "de requêtes", 1, 256},
};

const SettingFacts& FactsOf(ConnectionSetting setting) {
    for (const SettingFacts& facts : kFacts) {
        if (facts.setting == setting) return facts;
    }
    return kFacts[0];
}

std::uint32_t Seconds(std::chrono::milliseconds timeout) {
    const auto ms = std::max<std::chrono::milliseconds::rep>(timeout.count(), 1);
    return static_cast<std::uint32_t>((ms + 999) / 1000);
}

}  // namespace

const char* SettingName(ConnectionSetting setting) { return FactsOf(setting).name; }

const char* SettingField(ConnectionSetting setting) { return FactsOf(setting).field; }

std::optional<ConnectionSetting> SettingOfField(std::string_view fieldName) {
    for (const SettingFacts& facts : kFacts) {
        if (!fieldName.empty() && fieldName == facts.field) return facts.setting;
    }
    return std::nullopt;
}

// "MaxAssociationsPerAddress" gives "max-associations-per-address".
std::string SettingOption(ConnectionSetting setting) {
    std::string option;
    for (const char c : std::string_view(SettingName(setting))) {
        if (c >= 'A' && c <= 'Z') {
            if (!option.empty()) option += '-';
            option += static_cast<char>(c - 'A' + 'a');
        } else {
            option += c;
        }
    }
    return option;
}

std::optional<ConnectionSetting> ListenSettingOfOption(std::string_view option) {
    for (const ConnectionSetting setting : kListenSettings) {
        if (option == SettingOption(setting)) return setting;
    }
    return std::nullopt;
}

std::uint32_t& ListenBound(ConnectionSetting setting, ListenBounds& bounds) {
    switch (setting) {
        case ConnectionSetting::MaxAssociations:
            return bounds.maxAssociations;
        case ConnectionSetting::MaxAssociationsPerAddress:
            return bounds.maxAssociationsPerAddress;
        default:
            return bounds.maxRelayedQueries;
    }
}

std::uint32_t ParseSetting(ConnectionSetting setting, const std::string& text) {
    const SettingFacts& facts = FactsOf(setting);
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (!text.empty() && error == std::errc() && end == text.data() + text.size() &&
        value >= facts.least && value <= facts.most)
        return value;
    throw Exception(ErrorClass::EConvertError, std::string(facts.what) + " : '" + text +
                                                   "' refusé, un nombre entier " + facts.unit +
                                                   " de " + std::to_string(facts.least) + " à " +
                                                   std::to_string(facts.most) + " est attendu");
}

std::uint32_t SettingValue(ConnectionSetting setting, const ConnectionValues& values) {
    switch (setting) {
        case ConnectionSetting::ConnectTimeout:
            return Seconds(values.timeouts.connect);
        case ConnectionSetting::AssocTimeout:
            return Seconds(values.timeouts.association);
        case ConnectionSetting::ResponseTimeout:
            return Seconds(values.timeouts.response);
        case ConnectionSetting::MaxPdu:
            return values.maxPdu;
        default:
            return values.maxResults;
    }
}

void ApplySetting(ConnectionSetting setting, std::uint32_t value, ConnectionValues& values) {
    const std::chrono::seconds seconds(value);
    switch (setting) {
        case ConnectionSetting::ConnectTimeout:
            values.timeouts.connect = seconds;
            break;
        case ConnectionSetting::AssocTimeout:
            values.timeouts.association = seconds;
            break;
        case ConnectionSetting::ResponseTimeout:
            values.timeouts.response = seconds;
            break;
        case ConnectionSetting::MaxPdu:
            values.maxPdu = value;
            break;
        default:
            values.maxResults = value;
    }
}

dicom::TlsVerify ParseTlsVerify(const std::string& text) {
    if (const std::optional<dicom::TlsVerify> verify = dicom::TlsVerifyOfName(text)) return *verify;
    throw Exception(ErrorClass::EConvertError,
                    "Vérification TLS : '" + text + "' refusée, require ou ignore est attendu");
}

dicom::TlsProfile ParseTlsProfile(const std::string& text) {
    if (const std::optional<dicom::TlsProfile> profile = dicom::TlsProfileOfName(text))
        return *profile;
    throw Exception(ErrorClass::EConvertError,
                    "Profil TLS : '" + text +
                        "' refusé, bcp195-nd, bcp195, bcp195-ex, aes ou null est attendu");
}

namespace {

std::string Read(const char* name) { return ReadSetting(kSettingsSection, name); }

void LogKeptDefault(const char* name, const std::string& text, const std::string& kept) {
    AppLogger().Log(std::string("Paramètre ") + name + " invalide : '" + text +
                        "' (valeur par défaut " + kept + " gardée)",
                    LogLevel::Error, 0);
}

}  // namespace

void ReadNodeSettings(const NodeFields& fields, const NodeSettings& defaults) {
    fields.ip = Read("IP");
    fields.port = Read("Port");
    fields.aeTitle = Read("AETitle");
    fields.callingAETitle = Read("CallingAETitle");
    fields.modality = Read("Modalite");
    if (fields.ip.empty()) {
        fields.ip = defaults.ip;
        fields.port = defaults.port;
        fields.aeTitle = defaults.aeTitle;
        fields.callingAETitle = defaults.callingAETitle;
    }
}

void WriteNodeSettings(const NodeSettings& settings) {
    WriteSetting(kSettingsSection, "IP", settings.ip);
    WriteSetting(kSettingsSection, "Port", settings.port);
    WriteSetting(kSettingsSection, "AETitle", settings.aeTitle);
    WriteSetting(kSettingsSection, "CallingAETitle", settings.callingAETitle);
    WriteSetting(kSettingsSection, "Modalite", settings.modality);
}

ConnectionValues ReadConnectionValues(ConnectionValues values) {
    for (const ConnectionSetting setting : kConnectionSettings) {
        const std::string text = Read(SettingName(setting));
        if (text.empty()) continue;
        try {
            ApplySetting(setting, ParseSetting(setting, text), values);
        } catch (const Exception&) {
            LogKeptDefault(SettingName(setting), text,
                           std::to_string(SettingValue(setting, values)));
        }
    }
    return values;
}

void WriteConnectionValues(const ConnectionValues& values) {
    for (const ConnectionSetting setting : kConnectionSettings)
        WriteSetting(kSettingsSection, SettingName(setting),
                     std::to_string(SettingValue(setting, values)));
}

ListenBounds ReadListenBounds(ListenBounds bounds) {
    for (const ConnectionSetting setting : kListenSettings) {
        const std::string text = Read(SettingName(setting));
        if (text.empty()) continue;
        std::uint32_t& bound = ListenBound(setting, bounds);
        try {
            bound = ParseSetting(setting, text);
        } catch (const Exception&) {
            LogKeptDefault(SettingName(setting), text, std::to_string(bound));
        }
    }
    return bounds;
}

void WriteListenBounds(const ListenBounds& bounds) {
    ListenBounds written = bounds;
    for (const ConnectionSetting setting : kListenSettings)
        WriteSetting(kSettingsSection, SettingName(setting),
                     std::to_string(ListenBound(setting, written)));
}

std::size_t ReadByteLimit(const char* name, std::size_t fallback) {
    const std::string text = Read(name);
    if (text.empty()) return fallback;
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc() && end == text.data() + text.size() && value >= 1024) return value;
    LogKeptDefault(name, text, std::to_string(fallback));
    return fallback;
}

TlsSettings ReadTlsSettings(const TlsSettings& defaults) {
    TlsSettings settings = defaults;
    settings.enabled = Read("TLS") == "1";
    settings.certificateFile = Read("TLSCert");
    settings.privateKeyFile = Read("TLSKey");
    settings.trusted = Read("TLSCA");
    const auto choose = [](std::string& value, const char* name, const auto& parse) {
        const std::string text = Read(name);
        if (text.empty()) return;
        try {
            parse(text);
            value = text;
        } catch (const Exception&) {
            LogKeptDefault(name, text, value);
        }
    };
    choose(settings.verify, "TLSVerify", ParseTlsVerify);
    choose(settings.profile, "TLSProfile", ParseTlsProfile);
    return settings;
}

void WriteTlsSettings(const TlsSettings& settings) {
    const std::string values[] = {settings.enabled ? "1" : "0",
                                  settings.certificateFile,
                                  settings.privateKeyFile,
                                  settings.trusted,
                                  settings.verify,
                                  settings.profile};
    for (std::size_t i = 0; i < std::size(kTlsSettingNames); ++i)
        WriteSetting(kSettingsSection, kTlsSettingNames[i], values[i]);
}

RetrievalSettings ReadRetrievalSettings(const RetrievalSettings& defaults) {
    RetrievalSettings settings = defaults;
    const auto take = [](std::string& value, const char* name) {
        if (std::string stored = Read(name); !stored.empty()) value = std::move(stored);
    };
    take(settings.moveDestination, "MoveDestination");
    take(settings.storePort, "StorePort");
    take(settings.storeFolder, "StoreFolder");
    return settings;
}

void WriteRetrievalSettings(const RetrievalSettings& settings) {
    WriteSetting(kSettingsSection, "MoveDestination", settings.moveDestination);
    WriteSetting(kSettingsSection, "StorePort", settings.storePort);
    WriteSetting(kSettingsSection, "StoreFolder", settings.storeFolder);
}

dicom::DicomTls TlsOfSettings(const TlsSettings& settings) {
    dicom::DicomTls tls;
    tls.enabled = settings.enabled;
    tls.certificateFile = settings.certificateFile;
    tls.privateKeyFile = settings.privateKeyFile;
    tls.trusted = settings.trusted;
    tls.verify = ParseTlsVerify(settings.verify);
    tls.profile = ParseTlsProfile(settings.profile);
    return tls;
}

QueryTransport ParseTransport(const std::string& text) {
    if (const std::optional<QueryTransport> transport = TransportOfName(text)) return *transport;
    throw Exception(ErrorClass::EConvertError,
                    "Transport : '" + text + "' refusé, DIMSE ou DICOMweb est attendu");
}

DicomWebSettings ReadDicomWebSettings(const DicomWebSettings& defaults) {
    DicomWebSettings settings = defaults;
    settings.url = Read("DicomWebURL");
    settings.user = Read("HttpUser");
    const std::string transport = Read("Transport");
    if (transport.empty()) return settings;
    if (TransportOfName(transport)) {
        settings.transport = TransportName(*TransportOfName(transport));
    } else {
        LogKeptDefault("Transport", transport, settings.transport);
    }
    return settings;
}

void WriteDicomWebSettings(const DicomWebSettings& settings) {
    WriteSetting(kSettingsSection, "DicomWebURL", settings.url);
    WriteSetting(kSettingsSection, "Transport", settings.transport);
    WriteSetting(kSettingsSection, "HttpUser", settings.user);
}

ConnectionFields::ConnectionFields(const std::array<TEdit*, std::size(kConnectionSettings)>& fields)
    : fields_(fields) {}

void ConnectionFields::Show(const ConnectionValues& values) {
    shown_.clear();
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i]->Text = std::to_string(SettingValue(kConnectionSettings[i], values));
        shown_.push_back(fields_[i]->Text);
    }
}

void ConnectionFields::Apply(ConnectionValues& values) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const std::string& text = fields_[i]->Text;
        if (i < shown_.size() && text == shown_[i]) continue;
        const ConnectionSetting setting = kConnectionSettings[i];
        ApplySetting(setting, ParseSetting(setting, text), values);
    }
}

void ConnectionFields::ApplyValid(ConnectionValues& values) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const std::string& text = fields_[i]->Text;
        if (i < shown_.size() && text == shown_[i]) continue;
        try {
            const ConnectionSetting setting = kConnectionSettings[i];
            ApplySetting(setting, ParseSetting(setting, text), values);
        } catch (const Exception&) {
            // The value in force is stored; the next request says what is wrong.
        }
    }
}

}  // namespace lumo::app
