#include <gtest/gtest.h>

#include <string>

#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "app/TStrings.h"
#include "app/gui/LinesModel.h"
#include "app/gui/LinesView.h"
#include "tests/app/gui/GuiTestSupport.h"

namespace lumo::gui {
namespace {

constexpr int kRows = 2'000'000;

// A shown view over two million lines, as a long listing makes them.
struct ShownView {
    ShownView() {
        for (int i = 0; i < kRows; ++i) lines.Add("Ligne " + std::to_string(i));
        model = new LinesModel(lines, &view);
        view.setModel(model);
        view.resize(300, 200);
        view.show();
        QCoreApplication::processEvents();
    }
    QModelIndex Row(int row) const { return model->index(row, 0); }

    app::TStrings lines;
    LinesView view;
    LinesModel* model = nullptr;
};

TEST(LinesView, PlacesFindsAndScrollsToAnyRowOfAHugeList) {
    ShownView shown;
    LinesView& view = shown.view;
    const int height = view.visualRect(shown.Row(0)).height();
    ASSERT_GT(height, 0);
    EXPECT_EQ(view.visualRect(shown.Row(3)).top(), 3 * height);
    for (int row : {kRows / 2, kRows - 1}) {
        view.scrollTo(shown.Row(row));
        const QRect rect = view.visualRect(shown.Row(row));
        EXPECT_TRUE(view.viewport()->rect().contains(rect.center())) << row;
        EXPECT_EQ(view.indexAt(rect.center()), shown.Row(row)) << row;
    }
    // Nothing stands below the last row.
    EXPECT_FALSE(
        view.indexAt(view.visualRect(shown.Row(kRows - 1)).center() + QPoint(0, height)).isValid());
    view.scrollTo(shown.Row(10), QAbstractItemView::PositionAtTop);
    EXPECT_EQ(view.indexAt(QPoint(1, 1)), shown.Row(10));
}

TEST(LinesView, KeysAndClicksMoveTheCurrentRowAndADoubleClickNamesIt) {
    ShownView shown;
    LinesView& view = shown.view;
    view.setSelectionMode(QAbstractItemView::SingleSelection);
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_End);
    EXPECT_EQ(view.currentIndex(), shown.Row(kRows - 1));
    EXPECT_TRUE(view.selectionModel()->isSelected(shown.Row(kRows - 1)));
    QTest::keyClick(&view, Qt::Key_Home);
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(view.currentIndex(), shown.Row(1));
    QTest::keyClick(&view, Qt::Key_PageDown);
    EXPECT_GT(view.currentIndex().row(), 2);
    EXPECT_TRUE(view.viewport()->rect().intersects(view.visualRect(view.currentIndex())));

    view.scrollTo(shown.Row(1'000'000), QAbstractItemView::PositionAtTop);
    QSignalSpy doubleClicks(&view, &QAbstractItemView::doubleClicked);
    const QPoint third = view.visualRect(shown.Row(1'000'002)).center();
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, third);
    EXPECT_EQ(view.currentIndex(), shown.Row(1'000'002));
    EXPECT_EQ(view.selectionModel()->selectedRows(), QModelIndexList{shown.Row(1'000'002)});
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, third);
    ASSERT_EQ(doubleClicks.count(), 1);
    EXPECT_EQ(doubleClicks.at(0).at(0).value<QModelIndex>(), shown.Row(1'000'002));
}

}  // namespace
}  // namespace lumo::gui
