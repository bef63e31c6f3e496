#include <gtest/gtest.h>

#include <QSignalSpy>

#include "app/gui/LinesModel.h"
#include "tests/app/gui/GuiTestSupport.h"

namespace lumo::gui {
namespace {

TEST(LinesModel, ShowsTheLinesAsTheyStandInUtf8) {
    app::TStrings lines;
    lines.Add("Patient: LEFÈVRE^Hélène");
    lines.Add("");
    LinesModel model(lines, nullptr);
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.index(0, 0).data().toString(), QString::fromUtf8("Patient: LEFÈVRE^Hélène"));
    EXPECT_EQ(model.index(1, 0).data().toString(), "");
    EXPECT_FALSE(model.index(2, 0).data().isValid());
}

TEST(LinesModel, ReloadsOnlyWhenTheLinesChanged) {
    app::TStrings lines;
    LinesModel model(lines, nullptr);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
    EXPECT_FALSE(model.Sync());
    lines.Add("a");
    lines.Add("b");
    // The view keeps the old count until it is told.
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_TRUE(model.Sync());
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_FALSE(model.Sync());
    // A clear and a refill of the same size is a change too.
    lines.Clear();
    lines.Add("c");
    lines.Add("d");
    EXPECT_TRUE(model.Sync());
    EXPECT_EQ(model.index(0, 0).data().toString(), "c");
    // Lines only added at the end come as rows added; anything else reloads.
    EXPECT_EQ(inserts.count(), 1);
    EXPECT_EQ(resets.count(), 1);
    lines.Add("e");
    EXPECT_TRUE(model.Sync());
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.index(2, 0).data().toString(), "e");
    EXPECT_EQ(inserts.count(), 2);
    lines.Delete(0);
    EXPECT_TRUE(model.Sync());
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(resets.count(), 2);
}

TEST(LinesModel, NeverReadsPastTheLinesBeforeASync) {
    app::TStrings lines;
    lines.Assign({"1", "2", "3"});
    LinesModel model(lines, nullptr);
    lines.Clear();  // the view still believes in three rows
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_FALSE(model.index(2, 0).data().isValid());
}

}  // namespace
}  // namespace lumo::gui
