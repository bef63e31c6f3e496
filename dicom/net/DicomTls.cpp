#include "dicom/net/DicomTls.h"

#include "dicom/net/detail/TlsContext.h"

namespace lumo::dicom {

namespace {

struct ProfileName {
    TlsProfile profile;
    const char* name;
};

constexpr ProfileName kProfiles[] = {
    {TlsProfile::Bcp195Nd, "bcp195-nd"},
    {TlsProfile::Bcp195, "bcp195"},
    {TlsProfile::Bcp195Extended, "bcp195-ex"},
    {TlsProfile::Aes, "aes"},
    {TlsProfile::Null, "null"},
};

}  // namespace

const char* TlsProfileName(TlsProfile profile) {
    for (const ProfileName& names : kProfiles)
        if (names.profile == profile) return names.name;
    return kProfiles[0].name;
}

std::optional<TlsProfile> TlsProfileOfName(std::string_view name) {
    for (const ProfileName& names : kProfiles)
        if (name == names.name) return names.profile;
    return std::nullopt;
}

const char* TlsVerifyName(TlsVerify verify) {
    switch (verify) {
        case TlsVerify::Chain:
            return "chain";
        case TlsVerify::Ignore:
            return "ignore";
        default:
            return "require";
    }
}

std::optional<TlsVerify> TlsVerifyOfName(std::string_view name) {
    for (const TlsVerify verify : {TlsVerify::Require, TlsVerify::Chain, TlsVerify::Ignore})
        if (name == TlsVerifyName(verify)) return verify;
    return std::nullopt;
}

void CheckTlsFiles(const DicomTls& tls, TlsSide side) {
    if (tls.enabled) detail::TlsContext context(tls, side);
}

}  // namespace lumo::dicom
