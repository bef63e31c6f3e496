#include "tests/app/FormTestSupport.h"

#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/Application.h"

namespace lumo::app::testing {

namespace {

std::string Unpadded(std::string text) {
    if (!text.empty() && text.size() % 2 == 0 && (text.back() == ' ' || text.back() == '\0')) {
        text.pop_back();
    }
    return text;
}

DcmItem* WireItem(const lumo::testing::ReceivedRequest& request, const DcmTagKey& sequence,
                  unsigned long index) {
    if (!request.identifier) return nullptr;
    auto& identifier = const_cast<DcmDataset&>(*request.identifier);
    DcmItem* item = nullptr;
    if (identifier.findAndGetSequenceItem(sequence, item, static_cast<signed long>(index)).bad()) {
        return nullptr;
    }
    return item;
}

// The form reads and writes its connection settings under
// $XDG_CONFIG_HOME: the tests, and the programs they start, get a folder of
// their own so that they never touch the user's settings nor each other's.
const bool kPrivateConfig = [] {
    char pattern[] = "/tmp/lumo-app-config-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made != nullptr) setenv("XDG_CONFIG_HOME", made, 1);
    return made != nullptr;
}();

}  // namespace

void RecordingHost::ProcessMessages() {
    if (form != nullptr) {
        paintedLabels.emplace_back(form->lblDHDemande.Caption, form->lblDHReponse.Caption);
    }
}

TempDir::TempDir() {
    char pattern[] = "/tmp/lumo-app-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = made;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

CurrentDir::CurrentDir(const std::string& path) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
}

CurrentDir::~CurrentDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
}

lumo::testing::TestNode& Started(lumo::testing::TestNode& node) {
    node.Start();
    return node;
}

FormOnNode::FormOnNode(const lumo::testing::TestNode& node) {
    host.form = &form;
    SetApplicationTitle("Test Worklist");
    SetCommandLineParams({});
    form.FormCreate();
    form.EditIP.Text = "127.0.0.1";
    form.EditPort.Text = std::to_string(node.Port());
    form.QueryTimeouts.connect = std::chrono::seconds(5);
    form.QueryTimeouts.association = std::chrono::seconds(10);
    form.QueryTimeouts.response = std::chrono::seconds(20);
}

FormOnNode::~FormOnNode() { host.form = nullptr; }

std::string UnusedPort() {
    // Bind an ephemeral port and close it again: nothing listens there now.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return std::to_string(ntohs(address.sin_port));
}

std::optional<std::string> WireText(const lumo::testing::ReceivedRequest& request,
                                    const DcmTagKey& key) {
    std::optional<std::string> text = request.Text(key);
    if (text) return Unpadded(*text);
    return text;
}

std::optional<std::string> WireItemText(const lumo::testing::ReceivedRequest& request,
                                        const DcmTagKey& sequence, const DcmTagKey& key,
                                        unsigned long index) {
    DcmItem* item = WireItem(request, sequence, index);
    if (item == nullptr) return std::nullopt;
    std::optional<std::string> text = lumo::testing::RawText(*item, key);
    if (text) return Unpadded(*text);
    return text;
}

std::vector<DcmTagKey> WireItemTags(const lumo::testing::ReceivedRequest& request,
                                    const DcmTagKey& sequence, unsigned long index) {
    std::vector<DcmTagKey> tags;
    DcmItem* item = WireItem(request, sequence, index);
    if (item == nullptr) return tags;
    for (unsigned long i = 0; i < item->card(); ++i) tags.push_back(item->getElement(i)->getTag());
    std::sort(tags.begin(), tags.end());
    return tags;
}

unsigned long WireItemCount(const lumo::testing::ReceivedRequest& request,
                            const DcmTagKey& sequence) {
    if (!request.identifier) return 0;
    auto& identifier = const_cast<DcmDataset&>(*request.identifier);
    DcmSequenceOfItems* items = nullptr;
    if (identifier.findAndGetSequence(sequence, items).bad() || items == nullptr) return 0;
    return items->card();
}

std::string TagText(const DcmTagKey& key) {
    char text[16];
    std::snprintf(text, sizeof text, "(%04X,%04X)", key.getGroup(), key.getElement());
    return text;
}

std::vector<std::string> TagTexts(const std::vector<DcmTagKey>& keys) {
    std::vector<std::string> texts;
    for (const DcmTagKey& key : keys) texts.push_back(TagText(key));
    return texts;
}

std::vector<std::string> FileNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace lumo::app::testing
