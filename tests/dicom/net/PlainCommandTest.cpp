// The plain reading of response commands: what it reads is what DCMTK wrote,
// and anything it does not read plainly is left to DCMTK.

#include "dicom/net/detail/PlainCommand.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcostrmb.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/dicom/WireBytes.h"

namespace lumo::dicom {
namespace {

using testing::WireBytes;

// A command as DCMTK puts it on the wire (implicit VR little endian, with
// its group length).
std::string Encoded(DcmDataset& command) {
    std::vector<char> buffer(4096);
    DcmOutputBufferStream stream(buffer.data(), buffer.size());
    command.transferInit();
    EXPECT_TRUE(
        command.write(stream, EXS_LittleEndianImplicit, EET_ExplicitLength, nullptr, EGL_recalcGL)
            .good());
    command.transferEnd();
    void* written = nullptr;
    offile_off_t length = 0;
    stream.flushBuffer(written, length);
    return std::string(static_cast<const char*>(written), static_cast<std::size_t>(length));
}

std::string Command(Uint16 field, Uint16 dataSetType, Uint16 status, const char* comment = nullptr,
                    bool offending = false) {
    DcmDataset command;
    command.putAndInsertString(DCM_AffectedSOPClassUID,
                               UID_FINDStudyRootQueryRetrieveInformationModel);
    command.putAndInsertUint16(DCM_CommandField, field);
    command.putAndInsertUint16(DCM_MessageIDBeingRespondedTo, 7);
    command.putAndInsertUint16(DCM_CommandDataSetType, dataSetType);
    command.putAndInsertUint16(DCM_Status, status);
    if (comment) command.putAndInsertString(DCM_ErrorComment, comment);
    if (offending) command.putAndInsertTagKey(DCM_OffendingElement, DCM_PatientID);
    return Encoded(command);
}

// An element of group 0000 in implicit VR: tag, 4-byte length, value.
WireBytes& Implicit(WireBytes& bytes, std::uint16_t element, std::string_view value) {
    return bytes.Tag(0x0000, element).U32(static_cast<std::uint32_t>(value.size())).Raw(value);
}

std::string TwoBytes(std::uint16_t value) { return WireBytes().U16(value).Bytes(); }

detail::ResponseCommand Read(std::uint16_t field, std::uint16_t messageID, bool dataSet,
                             std::uint16_t status) {
    detail::ResponseCommand command;
    command.commandField = field;
    command.messageIDBeingRespondedTo = messageID;
    command.announcesDataSet = dataSet;
    command.status = status;
    return command;
}

TEST(PlainCommand, ReadsWhatDcmtkWritesAndLeavesTheRestToIt) {
    const std::string pending = Command(0x8020, 0x0001, 0xFF00);
    WireBytes reversed;  // the status before the data set type
    Implicit(Implicit(Implicit(reversed, 0x0100, TwoBytes(0x8020)), 0x0900, TwoBytes(0)), 0x0800,
             TwoBytes(0x0101));
    WireBytes wide;  // a status of four bytes
    Implicit(Implicit(Implicit(Implicit(wide, 0x0100, TwoBytes(0x8020)), 0x0120, TwoBytes(7)),
                      0x0800, TwoBytes(0x0101)),
             0x0900, std::string(4, '\0'));
    WireBytes noStatus;
    Implicit(Implicit(Implicit(noStatus, 0x0100, TwoBytes(0x8020)), 0x0120, TwoBytes(7)), 0x0800,
             TwoBytes(0x0101));
    WireBytes other;  // an element of another group
    Implicit(other, 0x0100, TwoBytes(0x8020)).Tag(0x0008, 0x0050).U32(0);

    struct Case {
        const char* what;
        std::string bytes;
        std::optional<detail::ResponseCommand> expected;
    };
    const Case cases[] = {
        {"pending with a data set", pending, Read(0x8020, 7, true, 0xFF00)},
        {"final without one", Command(0x8020, 0x0101, 0x0000), Read(0x8020, 7, false, 0x0000)},
        {"an echo", Command(0x8030, 0x0101, 0x0000), Read(0x8030, 7, false, 0x0000)},
        {"another service: its field alone", Command(0x8001, 0x0101, 0x0000),
         Read(0x8001, 0, false, 0)},
        {"an error comment", Command(0x8020, 0x0101, 0xC000, "No such key"), std::nullopt},
        {"an offending element", Command(0x8020, 0x0101, 0xA900, nullptr, true), std::nullopt},
        {"cut short", pending.substr(0, pending.size() - 2), std::nullopt},
        {"out of order", reversed.Bytes(), std::nullopt},
        {"a wide status", wide.Bytes(), std::nullopt},
        {"no status", noStatus.Bytes(), std::nullopt},
        {"another group", other.Bytes(), std::nullopt},
        {"nothing", "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<detail::ResponseCommand> read = detail::ReadPlainCommand(c.bytes);
        ASSERT_EQ(read.has_value(), c.expected.has_value());
        if (!read) continue;
        EXPECT_EQ(read->commandField, c.expected->commandField);
        EXPECT_EQ(read->messageIDBeingRespondedTo, c.expected->messageIDBeingRespondedTo);
        EXPECT_EQ(read->announcesDataSet, c.expected->announcesDataSet);
        EXPECT_EQ(read->status, c.expected->status);
        EXPECT_TRUE(read->errorComment.empty());
        EXPECT_TRUE(read->offendingElements.empty());
    }
}

}  // namespace
}  // namespace lumo::dicom
