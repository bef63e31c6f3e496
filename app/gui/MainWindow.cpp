#include "app/gui/MainWindow.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/FormControlDesign.h"
#include "app/gui/LinesModel.h"
#include "app/gui/LinesView.h"

namespace lumo::gui {

namespace {

using app::ControlKind;
using app::TControl;

QString Q(const std::string& text) { return QString::fromStdString(text); }

const QColor kNavy(0, 0, 128);

// Where the table of controls puts a control in its container; nothing for
// one its container lays out.
std::optional<QRect> PlaceOf(const TControl& control) {
    if (control.Width <= 0 || control.Height <= 0) return std::nullopt;
    return QRect(control.Left, control.Top, control.Width, control.Height);
}

void SetNavyBold(QLabel& label) {
    QFont font = label.font();
    font.setBold(true);
    font.setPixelSize(13);
    label.setFont(font);
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, kNavy);
    label.setPalette(palette);
}

QLabel* MakeMark(const QString& text, const QColor& color, const QString& name,
                 QWidget* container) {
    auto* mark = new QLabel(text, container);
    mark->setObjectName(name);
    QFont font = mark->font();
    font.setBold(true);
    font.setPixelSize(9);
    mark->setFont(font);
    QPalette palette = mark->palette();
    palette.setColor(QPalette::WindowText, color);
    mark->setPalette(palette);
    return mark;
}

// Keeps the anchored controls of a tab at the distance they have, as
// designed (kTabPage), to its right or bottom edge: they grow with it.
class AnchorKeeper final : public QObject {
  public:
    explicit AnchorKeeper(QWidget& container) : QObject(&container) {
        container.installEventFilter(this);
    }
    void Add(QWidget& widget, const QRect& box, unsigned anchors) {
        anchored_.push_back({&widget, box, anchors});
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) Place(static_cast<QWidget*>(watched)->size());
        return false;
    }

  private:
    struct Anchored {
        QWidget* widget;
        QRect box;
        unsigned anchors;
    };
    void Place(const QSize& size) const {
        const int wider = size.width() - app::kTabPage.width;
        const int taller = size.height() - app::kTabPage.height;
        for (const Anchored& item : anchored_) {
            QRect box = item.box;
            // A container smaller than designed never squeezes a control away.
            if (item.anchors & app::AnchorRight) box.setWidth(std::max(box.width() + wider, 16));
            if (item.anchors & app::AnchorBottom)
                box.setHeight(std::max(box.height() + taller, 16));
            item.widget->setGeometry(box);
        }
    }
    std::vector<Anchored> anchored_;
};

// Shows or hides a widget only when that changes, so a refresh costs little.
void SyncVisible(QWidget& widget, bool visible) {
    if (widget.isHidden() == visible) widget.setVisible(visible);
}

void SyncText(QLabel& label, const std::string& text) {
    const QString wanted = Q(text);
    if (label.text() != wanted) label.setText(wanted);
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent),
      dispatcher_([this](const std::function<void()>& task) { RunTask(task); }),
      host_(
          *this, [this] { Refresh(); }, dispatcher_),
      form_(host_) {
    Build();
    Refresh();
    Run([this] { form_.FormCreate(); });
}

MainWindow::~MainWindow() {
    // A network thread waiting for this thread is released before the form,
    // whose listener joins that thread, goes.
    dispatcher_.Close();
}

// Counts a running handler or listener task; when the last one ends, the
// view catches up and a close that waited for it goes ahead.
class MainWindow::Running {
  public:
    explicit Running(MainWindow& window) : window_(window) { ++window_.running_; }
    ~Running() {
        if (--window_.running_ > 0) return;
        window_.Refresh();
        if (window_.closePending_) {
            window_.closePending_ = false;
            QTimer::singleShot(0, &window_, [w = &window_] { w->close(); });
        }
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

  private:
    MainWindow& window_;
};

void MainWindow::Run(const std::function<void()>& handler) {
    Running running(*this);
    form_.RunHandler(handler);
}

void MainWindow::RunTask(const std::function<void()>& task) {
    // A listener event: its error goes back to the listener, which answers
    // the peer, so it is not reported here.
    Running running(*this);
    task();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (running_ > 0) {
        // FormDestroy must not run under a handler that still uses the form.
        // A batch under way stops after its current record and writes what
        // it built; the window closes when the handler returns.
        form_.RequestStop();
        closePending_ = true;
        event->ignore();
        return;
    }
    if (!destroyed_) {
        destroyed_ = true;
        Run([this] { form_.FormDestroy(); });
    }
    event->accept();
}

void MainWindow::CloseBySignal() {
    if (QWidget* dialog = QApplication::activeModalWidget(); dialog != nullptr && dialog != this) {
        dialog->close();
    }
    close();
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        Centre();  // again, now that the frame around the window is known
        FocusStartControl();
        // Qt lays out only the current tab's page; the others take the same
        // area now, so that their controls have their places before first shown.
        if (auto* pages = qobject_cast<QTabWidget*>(widgets_[form_.PageControl1.Name])) {
            const QRect area = pages->currentWidget()->geometry();
            for (int i = 0; i < pages->count(); ++i) pages->widget(i)->setGeometry(area);
        }
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FitBatchPanel();
}

// The batch panel keeps its designed size, but for the Diagnostic tab,
// which takes the width the window has beyond its default and half the
// height, so that its report grows with the window; the result list keeps
// the rest.
void MainWindow::FitBatchPanel() {
    if (panel2_ == nullptr || frame_.pages == nullptr) return;
    const bool diagnostic = frame_.pages->currentWidget() == widgets_[form_.TabSheet2.Name];
    const int wider = diagnostic ? std::max(0, width() - form_.Form.Width) : 0;
    const int taller = diagnostic ? std::max(0, height() - form_.Form.Height) / 2 : 0;
    panel3_->setFixedWidth(form_.Panel3.Width + wider);
    panel2_->setFixedHeight(form_.Panel2.Height + taller);
}

void MainWindow::Refresh() {
    refreshing_ = true;
    for (const auto& refresh : refresh_) refresh();
    refreshing_ = false;
}

void MainWindow::Build() {
    const TControl& formControl = form_.Form;
    setObjectName(Q(formControl.Name));
    resize(formControl.Width, formControl.Height);
    Centre();
    refresh_.push_back([this] {
        const QString caption = Q(form_.Form.Caption);
        if (windowTitle() != caption) setWindowTitle(caption);
    });
    frame_ = BuildFrame();
    for (TControl* control : form_.Controls()) AddControl(*control, frame_);
    SetTabOrder();
    connect(frame_.pages, &QTabWidget::currentChanged, this, [this] { FitBatchPanel(); });
}

// Top: the input block, with the batch panel at its right; below: the
// result list's panel taking the rest.
MainWindow::Frame MainWindow::BuildFrame() {
    auto* outerFrame = new QVBoxLayout(this);
    outerFrame->setContentsMargins(0, 0, 0, 0);
    body_ = std::make_unique<QWidget>(this);
    outerFrame->addWidget(body_.get());
    auto* outer = new QVBoxLayout(body_.get());
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* panel2 = new QFrame(body_.get());
    panel2->setObjectName(Q(form_.Panel2.Name));
    panel2->setFixedHeight(form_.Panel2.Height);
    auto* top = new QHBoxLayout(panel2);
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(0);
    Frame frame;
    frame.inputs = new QWidget(panel2);
    frame.inputs->setObjectName("Panel2Inputs");
    top->addWidget(frame.inputs, 1);
    auto* panel3 = new QFrame(panel2);
    panel3->setObjectName(Q(form_.Panel3.Name));
    panel3->setFixedWidth(form_.Panel3.Width);
    auto* right = new QVBoxLayout(panel3);
    right->setContentsMargins(0, 0, 0, 0);
    frame.pages = new QTabWidget(panel3);
    frame.pages->setObjectName(Q(form_.PageControl1.Name));
    right->addWidget(frame.pages);
    top->addWidget(panel3);
    outer->addWidget(panel2);

    frame.panel1 = new QFrame(body_.get());
    frame.panel1->setObjectName(Q(form_.Panel1.Name));
    frame.bottom = new QVBoxLayout(frame.panel1);
    frame.bottom->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame.panel1, 1);

    widgets_[form_.Panel2.Name] = panel2;
    widgets_[form_.Panel3.Name] = panel3;
    panel2_ = panel2;
    panel3_ = panel3;
    widgets_[form_.PageControl1.Name] = frame.pages;
    widgets_[form_.Panel1.Name] = frame.panel1;
    return frame;
}

void MainWindow::AddTab(TControl& control, QTabWidget* pages) {
    auto* page = new QWidget(pages);
    page->setObjectName(Q(control.Name));
    const int index = pages->addTab(page, Q(control.Caption));
    widgets_[control.Name] = page;
    refresh_.push_back([pages, index, &control] {
        const QString caption = Q(control.Caption);
        if (pages->tabText(index) != caption) pages->setTabText(index, caption);
    });
}

void MainWindow::AddControl(TControl& control, const Frame& frame) {
    switch (control.Kind) {
        case ControlKind::Form:
        case ControlKind::Panel:
        case ControlKind::PageControl:
        case ControlKind::OpenDialog:  // a dialog of its own when used
        case ControlKind::Viewer:      // the listener is not drawn
            return;
        case ControlKind::TabSheet:
            AddTab(control, frame.pages);
            return;
        default:
            break;
    }
    QWidget* container = frame.inputs;
    if (control.Parent == form_.Panel1.Name) {
        container = frame.panel1;
    } else if (auto found = widgets_.find(control.Parent);
               control.Parent != form_.Panel2.Name && found != widgets_.end()) {
        container = found->second;
    }
    QWidget* widget = MakeWidget(control, container);
    widgets_[control.Name] = widget;
    if (container == frame.panel1) {
        frame.bottom->addWidget(widget);
    } else if (const std::optional<QRect> box = PlaceOf(control)) {
        widget->setGeometry(*box);
        if (control.Anchors != app::AnchorNone) {
            QObject*& keeper = anchors_[container];
            if (keeper == nullptr) keeper = new AnchorKeeper(*container);
            static_cast<AnchorKeeper*>(keeper)->Add(*widget, *box, control.Anchors);
        }
        if (!control.LabelCaption.empty() || control.Marks != app::MarkNone) {
            AddFieldLabel(control, container, *box);
        }
    }
    if (!control.Hint.empty()) widget->setToolTip(Q(control.Hint));
    widget->setVisible(control.Visible);
    widget->setEnabled(control.Enabled);
    refresh_.push_back([widget, &control] {
        SyncVisible(*widget, control.Visible);
        // Its own state, not the one a disabled container would give it.
        if (widget->testAttribute(Qt::WA_Disabled) == control.Enabled)
            widget->setEnabled(control.Enabled);
    });
}

QWidget* MainWindow::MakeWidget(TControl& control, QWidget* container) {
    switch (control.Kind) {
        case ControlKind::Edit:
            return MakeEdit(static_cast<app::TEdit&>(control), container);
        case ControlKind::ComboBox:
            return MakeComboBox(static_cast<app::TComboBox&>(control), container);
        case ControlKind::CheckBox:
            return MakeCheckBox(static_cast<app::TCheckBox&>(control), container);
        case ControlKind::Button:
            return MakeButton(static_cast<app::TButton&>(control), container);
        case ControlKind::ListBox:
            return MakeListBox(static_cast<app::TListBox&>(control), container);
        case ControlKind::Memo:
            return MakeMemo(static_cast<app::TMemo&>(control), container);
        default:
            return MakeLabel(control, container);
    }
}

QWidget* MainWindow::MakeEdit(app::TEdit& edit, QWidget* container) {
    auto* widget = new QLineEdit(Q(edit.Text), container);
    widget->setObjectName(Q(edit.Name));
    // The query block's fields that carry the hint are drawn on the
    // 3-D light colour, the others on the normal window colour.
    if (!edit.Hint.empty() && edit.Parent == form_.Panel2.Name) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Base, QApplication::palette().color(QPalette::Midlight));
        widget->setPalette(palette);
    }
    connect(widget, &QLineEdit::textEdited, this,
            [&edit](const QString& text) { edit.Text = text.toStdString(); });
    widget->setCursorPosition(0);
    refresh_.push_back([widget, &edit] {
        const QString wanted = Q(edit.Text);
        if (widget->text() != wanted) {
            widget->setText(wanted);
            if (!widget->hasFocus()) widget->setCursorPosition(0);
        }
    });
    return widget;
}

QWidget* MainWindow::MakeComboBox(app::TComboBox& combo, QWidget* container) {
    auto* widget = new QComboBox(container);
    widget->setObjectName(Q(combo.Name));
    widget->setEditable(true);
    widget->setInsertPolicy(QComboBox::NoInsert);
    connect(widget, &QComboBox::editTextChanged, this, [this, &combo](const QString& text) {
        if (!refreshing_) combo.Text = text.toStdString();
    });
    if (combo.OnSelect) {
        connect(widget, &QComboBox::textActivated, this, [this, &combo](const QString& text) {
            if (refreshing_) return;
            combo.Text = text.toStdString();
            Run([&combo] { combo.OnSelect(combo); });
        });
    }
    refresh_.push_back([widget, &combo] {
        QStringList items;
        for (const std::string& item : combo.Items) items << Q(item);
        QStringList shown;
        for (int i = 0; i < widget->count(); ++i) shown << widget->itemText(i);
        if (shown != items) {
            widget->clear();
            widget->addItems(items);
        }
        const QString wanted = Q(combo.Text);
        if (widget->currentText() != wanted) widget->setEditText(wanted);
    });
    return widget;
}

QWidget* MainWindow::MakeCheckBox(app::TCheckBox& check, QWidget* container) {
    auto* widget = new QCheckBox(Q(check.Caption), container);
    widget->setObjectName(Q(check.Name));
    connect(widget, &QCheckBox::toggled, this, [this, &check](bool on) {
        if (!refreshing_) check.Checked = on;
    });
    refresh_.push_back([widget, &check] {
        if (widget->isChecked() != check.Checked) widget->setChecked(check.Checked);
        const QString caption = Q(check.Caption);
        if (widget->text() != caption) widget->setText(caption);
    });
    return widget;
}

QWidget* MainWindow::MakeButton(app::TButton& button, QWidget* container) {
    auto* widget = new QPushButton(Q(button.Caption), container);
    widget->setObjectName(Q(button.Name));
    widget->setAutoDefault(false);
    connect(widget, &QPushButton::clicked, this,
            [this, &button] { Run([&button] { button.Click(); }); });
    refresh_.push_back([widget, &button] {
        const QString caption = Q(button.Caption);
        if (widget->text() != caption) widget->setText(caption);
    });
    return widget;
}

QWidget* MainWindow::MakeListBox(app::TListBox& list, QWidget* container) {
    auto* widget = new LinesView(container);
    widget->setObjectName(Q(list.Name));
    widget->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* model = new LinesModel(list.Items, widget);
    widget->setModel(model);
    connect(widget->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this, &list](const QModelIndex& current) {
                if (!refreshing_) list.ItemIndex = current.isValid() ? current.row() : -1;
            });
    connect(widget, &LinesView::doubleClicked, this, [this, &list](const QModelIndex& index) {
        if (!list.OnDblClick || !index.isValid() || form_.Running()) return;
        list.ItemIndex = index.row();
        Run([&list] { list.OnDblClick(list); });
    });
    refresh_.push_back([widget, model, &list] {
        model->Sync();
        const int row = widget->currentIndex().isValid() ? widget->currentIndex().row() : -1;
        if (row != list.ItemIndex) {
            const QModelIndex wanted = model->index(list.ItemIndex, 0);
            widget->setCurrentIndex(wanted);
            if (wanted.isValid()) widget->scrollTo(wanted);
        }
    });
    return widget;
}

QWidget* MainWindow::MakeMemo(app::TMemo& memo, QWidget* container) {
    auto* widget = new QPlainTextEdit(container);
    widget->setObjectName(Q(memo.Name));
    widget->setReadOnly(true);
    auto revision = std::make_shared<std::uint64_t>(memo.Lines.Revision() + 1);
    refresh_.push_back([widget, &memo, revision] {
        if (*revision == memo.Lines.Revision()) return;
        *revision = memo.Lines.Revision();
        QStringList lines;
        for (const std::string_view line : memo.Lines)
            lines << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
        widget->setPlainText(lines.join(QLatin1Char('\n')));
    });
    return widget;
}

QWidget* MainWindow::MakeLabel(TControl& control, QWidget* container) {
    auto* widget = new QLabel(Q(control.Caption), container);
    widget->setObjectName(Q(control.Name));
    if (control.Parent == form_.TabSheet1.Name || control.Parent == form_.TabSheet2.Name ||
        control.Parent == form_.TabSheet3.Name) {
        // The tabs' notes and field names are long for their width.
        QFont font = widget->font();
        font.setPixelSize(11);
        widget->setFont(font);
        widget->setWordWrap(control.Name == "Label46");
    }
    refresh_.push_back([widget, &control] { SyncText(*widget, control.Caption); });
    return widget;
}

void MainWindow::AddFieldLabel(TControl& control, QWidget* container, const QRect& field) {
    const QString name = Q(control.Name);
    QList<QWidget*> parts;
    if (!control.LabelCaption.empty()) {
        auto* label = new QLabel(Q(control.LabelCaption), container);
        label->setObjectName(name + "Label");
        SetNavyBold(*label);
        // The label stands left of its field: the whole left margin for the
        // first column and the UID rows, the gap between the columns for the
        // second, a caption's width for the time labels.
        const int left = field.x() >= app::kInputColumnB
                             ? 316
                             : (field.x() == app::kInputColumnA ? 8 : field.x() - 102);
        label->setGeometry(left, field.y(), field.x() - left - 4, field.height());
        label->setBuddy(container->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly));
        parts << label;
    }
    int x = field.right() + 4;
    if (control.Marks & app::MarkW) {
        auto* mark = MakeMark("W", Qt::red, name + "MarkW", container);
        mark->setGeometry(x, field.y(), 12, field.height());
        parts << mark;
    }
    x += 13;
    if (control.Marks & app::MarkCF) {
        auto* mark = MakeMark("CF", Qt::blue, name + "MarkCF", container);
        mark->setGeometry(x, field.y(), 16, field.height());
        parts << mark;
    }
    for (QWidget* part : parts) {
        part->setVisible(control.Visible);
        refresh_.push_back([part, &control] { SyncVisible(*part, control.Visible); });
    }
    if (!parts.isEmpty() && !control.LabelCaption.empty()) {
        auto* label = static_cast<QLabel*>(parts.front());
        refresh_.push_back([label, &control] { SyncText(*label, control.LabelCaption); });
    }
}

void MainWindow::SetTabOrder() {
    // The controls with a place in the tab order come first, by that place;
    // the others follow in the order the form lists them.
    std::vector<TControl*> order;
    for (TControl* control : form_.Controls()) {
        const auto found = widgets_.find(control->Name);
        if (found == widgets_.end() || found->second->focusPolicy() == Qt::NoFocus) continue;
        order.push_back(control);
    }
    std::stable_sort(order.begin(), order.end(), [](const TControl* a, const TControl* b) {
        const bool aFixed = a->TabOrder >= 0;
        const bool bFixed = b->TabOrder >= 0;
        if (aFixed != bFixed) return aFixed;
        return aFixed && a->TabOrder < b->TabOrder;
    });
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(widgets_[order[i - 1]->Name], widgets_[order[i]->Name]);
    }
}

void MainWindow::Centre() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect outer = frameGeometry();
        outer.moveCenter(screen->availableGeometry().center());
        move(outer.topLeft());
    }
}

void MainWindow::FocusStartControl() {
    if (const auto found = widgets_.find(form_.ActiveControl); found != widgets_.end()) {
        found->second->setFocus(Qt::OtherFocusReason);
    }
}

}  // namespace lumo::gui
