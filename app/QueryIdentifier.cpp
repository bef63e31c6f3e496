#include "app/QueryIdentifier.h"

#include <cstdint>
#include <optional>
#include <string>

#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/data/Variant.h"

namespace lumo::app {

namespace {

using dicom::DicomAttributes;
using dicom::DicomDataSet;
using dicom::DicomDataSets;
using dicom::Variant;
using KeyField = std::string QueryKeys::*;

constexpr const char* kPatientRootFind = "1.2.840.10008.5.1.4.1.2.1.1";
constexpr const char* kStudyRootFind = "1.2.840.10008.5.1.4.1.2.2.1";

// What one cell of an identifier table puts into the data set: nothing (the
// tag is absent), an empty return key, a matching key of the request, or a
// fixed text.
struct Cell {
    enum class Kind { Absent, Return, ReturnSequence, Key, Fixed } kind = Kind::Absent;
    KeyField key = nullptr;
    const char* text = nullptr;
};
constexpr Cell absent{};
constexpr Cell empty{Cell::Kind::Return};
constexpr Cell emptySequence{Cell::Kind::ReturnSequence};
constexpr Cell Key(KeyField field) { return {Cell::Kind::Key, field, nullptr}; }
constexpr Cell Fixed(const char* text) { return {Cell::Kind::Fixed, nullptr, text}; }

constexpr Cell accession = Key(&QueryKeys::accession);
constexpr Cell patientId = Key(&QueryKeys::patientId);
constexpr Cell name = Key(&QueryKeys::patientName);
constexpr Cell referring = Key(&QueryKeys::referring);
constexpr Cell date = Key(&QueryKeys::date);
constexpr Cell birth = Key(&QueryKeys::birthDate);
constexpr Cell studyUid = Key(&QueryKeys::studyUid);
constexpr Cell seriesUid = Key(&QueryKeys::seriesUid);
constexpr Cell modality = Key(&QueryKeys::modality);

struct Row {
    std::uint16_t group;
    std::uint16_t element;
    Cell cell;
};

// The C-FIND identifiers, one column per level.
struct CFindRow {
    std::uint16_t group;
    std::uint16_t element;
    Cell patient, study, series, image;
};

// clang-format off
constexpr CFindRow kCFindIdentifier[] = {
    // tag            Patient                   Study                   Series                  Image
    {0x0000, 0x0002, Fixed(kPatientRootFind), Fixed(kStudyRootFind), Fixed(kStudyRootFind), Fixed(kStudyRootFind)},  // Affected SOP Class UID
    {0x0000, 0x0800, Fixed("0"),          Fixed("0"),          Fixed("0"),          Fixed("0")},           // Command Data Set Type
    {0x0008, 0x0005, Fixed("ISO_IR 100"), Fixed("ISO_IR 100"), Fixed("ISO_IR 100"), Fixed("ISO_IR 100")},  // Specific Character Set
    {0x0008, 0x0016, absent,              absent,              absent,              empty},                // SOP Class UID
    {0x0008, 0x0018, absent,              absent,              absent,              empty},                // SOP Instance UID
    {0x0008, 0x0020, date,                date,                date,                date},                 // Study Date
    {0x0008, 0x0021, absent,              empty,               empty,               empty},                // Series Date
    {0x0008, 0x0030, absent,              empty,               empty,               empty},                // Study Time
    {0x0008, 0x0031, absent,              empty,               empty,               empty},                // Series Time
    {0x0008, 0x0050, absent,              accession,           accession,           accession},            // Accession Number
    {0x0008, 0x0052, Fixed("PATIENT"),    Fixed("STUDY"),      Fixed("SERIES"),     Fixed("IMAGE")},       // Query/Retrieve Level
    {0x0008, 0x0060, absent,              modality,            modality,            modality},             // Modality
    {0x0008, 0x0070, absent,              empty,               empty,               empty},                // Manufacturer
    {0x0008, 0x0080, absent,              empty,               empty,               empty},                // Institution Name
    {0x0008, 0x0090, absent,              referring,           referring,           referring},            // Referring Physician's Name
    {0x0008, 0x103E, absent,              empty,               empty,               empty},                // Series Description
    {0x0008, 0x1050, absent,              empty,               empty,               empty},                // Performing Physician's Name
    {0x0008, 0x1070, absent,              empty,               empty,               empty},                // Operators' Name
    {0x0008, 0x1090, absent,              empty,               empty,               empty},                // Manufacturer's Model Name
    {0x0010, 0x0010, name,                name,                name,                name},                 // Patient's Name
    {0x0010, 0x0020, patientId,           patientId,           patientId,           patientId},            // Patient ID
    {0x0010, 0x0030, birth,               birth,               birth,               birth},                // Patient's Birth Date
    {0x0018, 0x0015, absent,              empty,               empty,               empty},                // Body Part Examined
    {0x0018, 0x1016, absent,              empty,               empty,               empty},                // Secondary Capture Device Manufacturer
    {0x0018, 0x1018, absent,              empty,               empty,               empty},                // Secondary Capture Device Manufacturer's Model Name
    {0x0018, 0x1020, absent,              empty,               empty,               empty},                // Software Versions
    {0x0020, 0x000D, absent,              studyUid,            studyUid,            studyUid},             // Study Instance UID
    {0x0020, 0x000E, absent,              empty,               seriesUid,           seriesUid},            // Series Instance UID
    {0x0020, 0x0011, absent,              absent,              empty,               absent},               // Series Number
    {0x0020, 0x0013, absent,              absent,              absent,              empty},                // Instance Number
    {0x0020, 0x1206, absent,              empty,               absent,              absent},               // Number of Study Related Series
    {0x0020, 0x1208, absent,              empty,               absent,              absent},               // Number of Study Related Instances
    {0x0020, 0x1209, absent,              absent,              empty,               absent},               // Number of Series Related Instances
};

// The worklist identifier: its top level, and its scheduled-step item, the
// one item of Scheduled Procedure Step Sequence (0040,0100). The top level
// also asks back what standard nodes answer there rather than in the step.
constexpr Row kWorklistTop[] = {
    {0x0008, 0x0050, accession},      // Accession Number
    {0x0008, 0x0090, empty},          // Referring Physician's Name
    {0x0008, 0x1030, empty},          // Study Description
    {0x0010, 0x0010, empty},          // Patient's Name
    {0x0010, 0x0020, patientId},      // Patient ID
    {0x0020, 0x000D, empty},          // Study Instance UID
    {0x0020, 0x0010, empty},          // Study ID
    {0x0032, 0x1060, empty},          // Requested Procedure Description
    {0x0032, 0x1064, emptySequence},  // Requested Procedure Code Sequence
    {0x0040, 0x1001, empty},          // Requested Procedure ID
};
constexpr Row kWorklistStep[] = {
    {0x0008, 0x0060, modality},   // Modality
    {0x0008, 0x0090, empty},      // Referring Physician's Name
    {0x0008, 0x0100, empty},      // Code Value
    {0x0008, 0x1030, empty},      // Study Description
    {0x0008, 0x103E, empty},      // Series Description
    {0x0010, 0x0010, empty},      // Patient's Name
    {0x0020, 0x000D, empty},      // Study Instance UID
    {0x0020, 0x0010, empty},      // Study ID
    {0x0020, 0x0060, empty},      // Laterality
    {0x0032, 0x1060, empty},      // Requested Procedure Description
    {0x0040, 0x0002, date},       // Scheduled Procedure Step Start Date
    {0x0040, 0x0007, empty},      // Scheduled Procedure Step Description
    {0x0040, 0x0009, empty},      // Scheduled Procedure Step ID
    {0x0040, 0x0010, empty},      // Scheduled Station Name
    {0x0040, 0x0253, empty},      // Performed Procedure Step ID
    {0x0040, 0x1001, empty},      // Requested Procedure ID
    {0x0040, 0x1400, empty},      // Requested Procedure Comments
};

// The worklist check's identifier, but for the keys that depend on whether
// an accession number was typed (see BuildWorklistCheckIdentifier).
constexpr Row kCheckTop[] = {
    {0x0008, 0x0005, Fixed("ISO_IR 100")},  // Specific Character Set
    {0x0008, 0x0052, Fixed("STUDY")},       // Query/Retrieve Level
    {0x0008, 0x0061, empty},                // Modalities in Study
    {0x0010, 0x0010, empty},                // Patient's Name
    {0x0010, 0x0030, empty},                // Patient's Birth Date
    {0x0008, 0x1030, empty},                // Study Description
    {0x0010, 0x0040, empty},                // Patient's Sex
    {0x0010, 0x0020, empty},                // Patient ID
    {0x0020, 0x000D, empty},                // Study Instance UID
    {0x0008, 0x0020, empty},                // Study Date
    {0x0008, 0x0030, empty},                // Study Time
    {0x0008, 0x0090, empty},                // Referring Physician's Name
    {0x0020, 0x0010, empty},                // Study ID
};
constexpr Row kCheckStep[] = {
    {0x0010, 0x0010, empty},     // Patient's Name
    {0x0008, 0x0060, modality},  // Modality
    {0x0040, 0x0007, empty},     // Scheduled Procedure Step Description
    {0x0040, 0x0003, empty},     // Scheduled Procedure Step Start Time
};
// clang-format on

void Put(DicomAttributes& attributes, std::uint16_t group, std::uint16_t element, const Cell& cell,
         const QueryKeys& keys) {
    switch (cell.kind) {
        case Cell::Kind::Absent:
            return;
        case Cell::Kind::Return:
            attributes.AttributesAdd(group, element, Variant(std::string()));
            return;
        case Cell::Kind::ReturnSequence:
            attributes.AttributesAdd(group, element, Variant(DicomDataSets()));
            return;
        case Cell::Kind::Key:
            attributes.AttributesAdd(group, element, Variant(keys.*cell.key));
            return;
        case Cell::Kind::Fixed:
            attributes.AttributesAdd(group, element, Variant(std::string(cell.text)));
            return;
    }
}

template <std::size_t N>
void PutRows(DicomAttributes attributes, const Row (&rows)[N], const QueryKeys& keys) {
    for (const Row& row : rows) Put(attributes, row.group, row.element, row.cell, keys);
}

// A scheduled-step item, appended to the sequence of the identifier's top
// level. The item is shared, not copied: what is put into it afterwards is
// part of the identifier.
DicomDataSet AddStepItem(const DicomDataSet& identifier) {
    DicomDataSets steps;
    DicomDataSet step;
    steps.DataSetsAppend(step);
    identifier.DataSetAttributes().AttributesAdd(0x0040, 0x0100, Variant(steps));
    return step;
}

const Cell& CellOf(const CFindRow& row, QueryLevel level) {
    switch (level) {
        case QueryLevel::Patient:
            return row.patient;
        case QueryLevel::Series:
            return row.series;
        case QueryLevel::Image:
            return row.image;
        default:
            return row.study;
    }
}

// Whether a text of the data set, or of its items, goes beyond ASCII.
bool HoldsTextBeyondAscii(const DicomDataSet& dataSet) {
    const DicomAttributes attributes = dataSet.DataSetAttributes();
    for (int i = 1; i <= attributes.AttributesCount(); ++i) {
        const Variant value = attributes.AttributesItemAt(i).AttributeWideValue();
        if (value.GetType() == Variant::Type::Collection) {
            const DicomDataSets items = value.AsCollection();
            for (int j = 1; j <= items.DataSetsCount(); ++j) {
                if (HoldsTextBeyondAscii(items.DataSetsItem(j))) return true;
            }
        } else if (value.GetType() == Variant::Type::Text) {
            for (const char c : value.AsText()) {
                if (static_cast<unsigned char>(c) >= 0x80) return true;
            }
        }
    }
    return false;
}

}  // namespace

DicomDataSet BuildIdentifier(const QueryRequest& request) {
    if (request.service != QueryService::Find) return BuildRetrieveIdentifier(request);
    DicomDataSet identifier;
    if (request.level == QueryLevel::Worklist) {
        PutRows(identifier.DataSetAttributes(), kWorklistTop, request.keys);
        PutRows(AddStepItem(identifier).DataSetAttributes(), kWorklistStep, request.keys);
        // Text beyond the default repertoire says which set it is in, as the
        // other levels always do (the toolkit writes ISO_IR 192 instead when
        // Latin-1 cannot hold it). An all-ASCII worklist query declares
        // nothing, as nodes have always received it.
        if (HoldsTextBeyondAscii(identifier))
            identifier.DataSetAttributes().AttributesAdd(0x0008, 0x0005, Variant("ISO_IR 100"));
        return identifier;
    }
    DicomAttributes attributes = identifier.DataSetAttributes();
    for (const CFindRow& row : kCFindIdentifier) {
        Put(attributes, row.group, row.element, CellOf(row, request.level), request.keys);
    }
    return identifier;
}

namespace {

// The first item of the Scheduled Procedure Step Sequence, if there is one.
std::optional<DicomDataSet> FirstStep(const DicomDataSet& dataSet) {
    const dicom::DicomAttribute steps = dataSet.DataSetAttributes().AttributesFind(0x0040, 0x0100);
    if (!steps.AttributeIsPresent() || steps.VR() != "SQ") return std::nullopt;
    const DicomDataSets items = steps.AttributeValue().AsCollection();
    if (items.DataSetsCount() < 1) return std::nullopt;
    return items.DataSetsItem(1);
}

// Adds to `to`, empty, what `from` holds at its top level and `to` lacks.
void AddMissingKeys(const DicomAttributes& from, DicomAttributes to) {
    for (int i = 1; i <= from.AttributesCount(); ++i) {
        const dicom::DicomAttribute key = from.AttributesItemAt(i);
        const std::uint16_t group = key.Group();
        const std::uint16_t element = key.Element();
        if (group == 0x0000 || (group == 0x0008 && (element == 0x0005 || element == 0x0052)))
            continue;
        if (to.AttributesFind(group, element).AttributeIsPresent()) continue;
        to.AttributesAdd(group, element,
                         key.VR() == "SQ" ? Variant(DicomDataSets()) : Variant(std::string()));
    }
}

}  // namespace

void AddReturnKeysOf(const DicomDataSet& request, DicomDataSet& identifier) {
    AddMissingKeys(request.DataSetAttributes(), identifier.DataSetAttributes());
    const std::optional<DicomDataSet> asked = FirstStep(request);
    const std::optional<DicomDataSet> ours = FirstStep(identifier);
    if (asked && ours) AddMissingKeys(asked->DataSetAttributes(), ours->DataSetAttributes());
}

DicomDataSet BuildRetrieveIdentifier(const QueryRequest& request) {
    DicomDataSet identifier;
    DicomAttributes attributes = identifier.DataSetAttributes();
    const QueryKeys& keys = request.keys;
    attributes.AttributesAdd(0x0008, 0x0052, Variant(std::string(LevelText(request.level))));
    if (request.level == QueryLevel::Patient) {
        attributes.AttributesAdd(0x0010, 0x0020, Variant(keys.patientId));
        return identifier;
    }
    attributes.AttributesAdd(0x0020, 0x000D, Variant(keys.studyUid));
    if (request.level == QueryLevel::Series || request.level == QueryLevel::Image)
        attributes.AttributesAdd(0x0020, 0x000E, Variant(keys.seriesUid));
    if (request.level == QueryLevel::Image)
        attributes.AttributesAdd(0x0008, 0x0018, Variant(keys.sopInstanceUid));
    return identifier;
}

DicomDataSet BuildWorklistCheckIdentifier(const QueryRequest& request) {
    const QueryKeys& keys = request.keys;
    DicomDataSet identifier;
    DicomAttributes top = identifier.DataSetAttributes();
    PutRows(top, kCheckTop, keys);
    DicomAttributes step = AddStepItem(identifier).DataSetAttributes();
    PutRows(step, kCheckStep, keys);
    if (!keys.accession.empty()) {
        top.AttributesAdd(0x0008, 0x0050, Variant(keys.accession));
        step.AttributesAdd(0x0040, 0x0002, Variant(std::string()));
    } else {
        step.AttributesAdd(0x0040, 0x0002, Variant(keys.date + "-" + keys.date));
        step.AttributesAdd(0x0008, 0x0050, Variant(std::string()));
    }
    return identifier;
}

}  // namespace lumo::app
