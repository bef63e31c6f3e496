#include <gtest/gtest.h>

#include <string>

#include "dicom/net/DicomNames.h"

namespace lumo::dicom {
namespace {

// Each kind of status, the exact codes and both ends of a range, and
// codes the standard does not define, which keep the kind their value gives.
TEST(DicomNames, StatusesHaveTheirStandardMeaning) {
    const struct {
        std::uint16_t status;
        StatusKind kind;
        const char* name;
    } cases[] = {
        {0x0000, StatusKind::Success, "Success"},
        {0xFF00, StatusKind::Pending, "Pending"},
        {0xFF01, StatusKind::Pending, "Pending, optional keys not supported"},
        {0xFE00, StatusKind::Cancel, "Cancel"},
        {0xA700, StatusKind::Failure, "Out of resources"},
        {0xA900, StatusKind::Failure, "Identifier does not match SOP Class"},
        {0xC000, StatusKind::Failure, "Unable to process"},
        {0xC123, StatusKind::Failure, "Unable to process"},
        {0xCFFF, StatusKind::Failure, "Unable to process"},
        {0x0122, StatusKind::Failure, "SOP Class not supported"},
        {0x0124, StatusKind::Failure, "Not authorized"},
        {0x0211, StatusKind::Failure, "Unrecognized operation"},
        {0xB000, StatusKind::Warning, "Warning"},
        {0x0107, StatusKind::Warning, "Attribute list error"},
        {0xD000, StatusKind::Failure, ""},
        {0x0002, StatusKind::Failure, ""},
    };
    for (const auto& c : cases) {
        const StatusMeaning meaning = DimseStatusMeaning(c.status);
        EXPECT_EQ(meaning.kind, c.kind) << std::hex << c.status;
        EXPECT_EQ(std::string(meaning.name), c.name) << std::hex << c.status;
    }
}

}  // namespace
}  // namespace lumo::dicom
