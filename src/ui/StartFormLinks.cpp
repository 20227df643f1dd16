// The link list: filling it from the browser's document, its order, its
// keys and the three selection buttons.
#include "browser/LinkCollection.h"
#include "platform/AsciiText.h"
#include "tools/ProcessValues.h"
#include "tools/UrlHelpers.h"
#include "ui/AppValues.h"
#include "ui/StartForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>

#include <exception>

namespace larkspool {

namespace {

// A row of the link list, ordered by the form's sort column: ASCII letters
// without regard to case, every other byte by its value.
class LinkItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& Other) const override {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const std::string a = LowerAscii(FromQ(text(column)));
        const std::string b = LowerAscii(FromQ(Other.text(column)));
        // std::string compares its bytes as unsigned values.
        return a < b;
    }
};

} // namespace

void TStartForm::CollectLinks(const Variant& Window) {
    // The update check runs in the background; it fails silently.
    AdvHttp.SetURL(HomeURL + "verinfo");
    try {
        AdvHttp.Execute(false);
    } catch (const std::exception&) {
    }
    BrowserWindow = Window;
    PageLinks page;
    try {
        ReadPageAddressAndTitle(Window, page);
    } catch (...) {
        StartPageURL = page.URL; // read before the title failed
        throw;
    }
    StartPageURL = page.URL;
    StartPageTitle = page.Title;
    setWindowTitle(QStringLiteral("Larkspool: ") + ToQ(StartPageTitle));
    edSubFolder->setText(ToQ(MakeFolderName(StartPageTitle)));
    SetApplicationTitle(QStringLiteral("Larkspool: ") + ToQ(StartPageTitle));
    ShowSettings();

    // One redraw for the whole list, also when reading stops half-way (the
    // rows read before stay).
    LinksView->setUpdatesEnabled(false);
    std::exception_ptr failure;
    try {
        ReadPageLinks(Window, page, [this](const LinkRow& Row) {
            AddLinkRow(Row.Number, Row.Address, Row.Text, Row.Checked);
        });
    } catch (...) {
        failure = std::current_exception();
    }
    SortLinks();
    LinksView->resizeColumnToContents(0);
    LinksView->setUpdatesEnabled(true);
    if (failure)
        std::rethrow_exception(failure);

    FPageGuard = true;
    PageControl1->setCurrentIndex(0);
    FPageGuard = false;
    chbOptDef->setVisible(true);
}

void TStartForm::AddLinkRow(const std::string& Number, const std::string& Address,
                            const std::string& Text, bool Checked) {
    auto* item = new LinkItem(LinksView);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setText(0, ToQ(Number));
    item->setText(1, ToQ(Address));
    item->setText(2, ToQ(Text));
    item->setCheckState(0, Checked ? Qt::Checked : Qt::Unchecked);
}

// The list is kept in the order of the sort column; sorting again in the
// same column gives the same order (there is no descending order).
void TStartForm::SortLinks() {
    LinksView->sortItems(SortColumn, Qt::AscendingOrder);
}

void TStartForm::LinksViewColumnClick(int Column) {
    SortColumn = Column;
    SortLinks();
}

bool TStartForm::eventFilter(QObject* Watched, QEvent* Event) {
    // The space bar is handled here alone: the list's own handling toggles
    // the focused row only when the focus is in the check box column.
    if (Watched == LinksView && Event->type() == QEvent::KeyPress &&
        LinksViewKeyDown(static_cast<QKeyEvent*>(Event)->key()))
        return true;
    return QWidget::eventFilter(Watched, Event);
}

bool TStartForm::LinksViewKeyDown(int Key) {
    if (Key != Qt::Key_Space)
        return false;
    QTreeWidgetItem* focused = LinksView->currentItem();
    if (!focused)
        return false;
    // The focused row flips; every other selected row takes its new state.
    const Qt::CheckState next = focused->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked;
    focused->setCheckState(0, next);
    for (QTreeWidgetItem* item : LinksView->selectedItems())
        if (item != focused)
            item->setCheckState(0, next);
    return true;
}

void TStartForm::btnAllClick() {
    for (int i = 0; i < LinksView->topLevelItemCount(); ++i)
        LinksView->topLevelItem(i)->setCheckState(0, Qt::Checked);
}

void TStartForm::btnInverseClick() {
    for (int i = 0; i < LinksView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = LinksView->topLevelItem(i);
        item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
}

void TStartForm::btnInternalClick() {
    const std::string root = HostPartOf(StartPageURL);
    for (int i = 0; i < LinksView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = LinksView->topLevelItem(i);
        if (item->checkState(0) == Qt::Checked && HostPartOf(FromQ(item->text(1))) != root)
            item->setCheckState(0, Qt::Unchecked);
    }
}

} // namespace larkspool
