#include "app/ConnectionSettings.h"

#include <algorithm>
#include <charconv>
#include <chrono>

#include "support/Exception.h"

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
        if (fieldName == facts.field) return facts.setting;
    }
    return std::nullopt;
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

}  // namespace lumo::app
