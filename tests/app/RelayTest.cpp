// The relay's own step: what it passes on of a worklist answer, through a
// real listener to a real caller.

#include "app/Relay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/listener/DicomViewer.h"
#include "dicom/listener/EventLoopDispatcher.h"
#include "dicom/net/DicomQuery.h"

namespace lumo::app {
namespace {

bool Has(const dicom::DicomDataSet& dataSet, std::uint16_t group, std::uint16_t element) {
    return dataSet.DataSetAttributes().AttributesFind(group, element).AttributeIsPresent();
}

TEST(Relay, IssuerOfAccessionNumberIsLeftOutOfACopyOnly) {
    dicom::DicomDataSet withIssuer;
    withIssuer.DataSetAttributes().AttributesAdd(0x0008, 0x0050, dicom::Variant("A1"));
    withIssuer.DataSetAttributes().AttributesAdd(0x0008, 0x0051,
                                                 dicom::Variant(dicom::DicomDataSets()));
    dicom::DicomDataSet plain;
    plain.DataSetAttributes().AttributesAdd(0x0008, 0x0050, dicom::Variant("A2"));

    dicom::EventLoopDispatcher dispatcher;
    dicom::DicomViewer viewer(dispatcher);
    int forwarded = 0;
    viewer.OnQueryRequest = [&](dicom::DicomViewer&, dicom::DicomConnection& connection) {
        RelayForwarder forward(connection);
        forward(withIssuer);
        forward(plain);
        forwarded = forward.Forwarded();
        FinishRelay(connection, true, false);
    };
    ASSERT_TRUE(viewer.ViewerListen(0));
    dicom::DicomDataSets received;
    std::atomic<bool> done = false;
    std::thread caller([&] {
        dicom::DicomQuery query;
        query.QuerySetCallingAETitle("MODALITY1");
        query.QuerySetCalledAETitle("RELAY");
        query.QuerySetNodeAddress("127.0.0.1");
        query.QuerySetNodePort(viewer.ListeningPort());
        query.QuerySetRoot("WORKLIST");
        query.SetTimeouts(
            {std::chrono::seconds(5), std::chrono::seconds(10), std::chrono::seconds(20)});
        dicom::DicomDataSet request;
        request.DataSetAttributes().AttributesAdd(0x0008, 0x0050, dicom::Variant(""));
        try {
            received = query.QueryRun(request);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        done = true;
        dispatcher.Post([] {});
    });
    dispatcher.RunUntil([&] { return done.load(); });
    caller.join();

    EXPECT_EQ(forwarded, 2);
    ASSERT_EQ(received.DataSetsCount(), 2);
    EXPECT_FALSE(Has(received.DataSetsItem(1), 0x0008, 0x0051));
    EXPECT_EQ(received.DataSetsItem(1).DataSetAccessionNumber(), "A1");
    EXPECT_TRUE(Has(withIssuer, 0x0008, 0x0051));  // the query's response is untouched
    EXPECT_EQ(received.DataSetsItem(2).DataSetAccessionNumber(), "A2");
}

}  // namespace
}  // namespace lumo::app
