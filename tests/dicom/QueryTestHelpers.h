#pragma once

// Helpers shared by the query tests: a query object aimed at a loopback
// node, identifiers built with the toolkit's own operations, and failures
// read as "Class: message" so tests compare the whole text.

#include <chrono>
#include <cstdint>
#include <string>

#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/data/Variant.h"
#include "dicom/net/DicomQuery.h"
#include "support/Exception.h"

namespace lumo::dicom::testing {

// Short timeouts: a test never waits long for a peer that misbehaves.
inline DicomTimeouts ShortTimeouts() {
    DicomTimeouts t;
    t.connect = std::chrono::milliseconds(5'000);
    t.association = std::chrono::milliseconds(5'000);
    t.response = std::chrono::milliseconds(10'000);
    return t;
}

inline DicomQuery MakeQuery(std::uint16_t port, const std::string& root,
                            const std::string& called = "NORVANEX",
                            const std::string& calling = "Lumo4410") {
    DicomQuery query;
    query.QuerySetCallingAETitle(calling);
    query.QuerySetCalledAETitle(called);
    query.QuerySetNodeAddress("127.0.0.1");
    query.QuerySetNodePort(port);
    query.QuerySetRoot(root);
    query.SetTimeouts(ShortTimeouts());
    return query;
}

inline void Add(const DicomDataSet& dataSet, std::uint16_t group, std::uint16_t element,
                const Variant& value) {
    dataSet.DataSetAttributes().AttributesAdd(group, element, value);
}

// The text of an attribute of a response, as the console reads it.
inline std::string TextOf(const DicomDataSet& dataSet, std::uint16_t group, std::uint16_t element) {
    return VarToStr(dataSet.DataSetAttributes().AttributesFind(group, element).AttributeValue());
}

// Runs the query and gives the error it raised as "Class: message", or
// "no error".
inline std::string FailureOf(DicomQuery& query, const DicomDataSet& identifier) {
    try {
        query.QueryRun(identifier);
    } catch (const Exception& e) {
        return e.ClassName() + ": " + e.what();
    }
    return "no error";
}

// A study-level Study Root identifier, as the console builds one.
inline DicomDataSet StudyIdentifier(const std::string& patientName = "") {
    DicomDataSet id;
    Add(id, 0x0008, 0x0005, "ISO_IR 100");
    Add(id, 0x0008, 0x0052, "STUDY");
    Add(id, 0x0010, 0x0010, Variant(patientName));
    Add(id, 0x0010, 0x0020, "");
    Add(id, 0x0020, 0x000D, "");
    return id;
}

}  // namespace lumo::dicom::testing
