#include "SingleSelectListView.h"

#include "CMsgWnd.h"
#include "CategoryPalette.h"
#include "ListItemWidget.h"

#include "Nexil/NexilApi.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QToolButton>

SingleSelectListView::SingleSelectListView(QWidget* parent)
    : QListWidget(parent), m_group(new QButtonGroup(this))
{
    m_group->setExclusive(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setStyleSheet(QStringLiteral("QListWidget::item { border-bottom: 1px solid #eee; }"
                                 "QListWidget::item:hover { background-color: #f5f5f5; }"));
    connect(m_group, qOverload<QAbstractButton*, bool>(&QButtonGroup::buttonToggled), this,
            &SingleSelectListView::Slot_RadioToggled);
}

void SingleSelectListView::AddItem(const QString& text)
{
    auto* item = new QListWidgetItem(this);
    auto* row = new ListItemWidget(text, m_group, this);
    // Before the size is taken: the swatch is part of the row.
    row->SetColor(CategoryPalette::At(count() - 1));
    item->setSizeHint(row->sizeHint());
    setItemWidget(item, row);
    connect(row->DeleteButton(), &QToolButton::clicked, this, &SingleSelectListView::Slot_DeleteItem);
}

void SingleSelectListView::ColourRows()
{
    for (int row = 0; row < count(); ++row)
    {
        if (ListItemWidget* widget = RowWidget(row))
            widget->SetColor(CategoryPalette::At(row));
    }
}

QString SingleSelectListView::CurrentText() const
{
    const ListItemWidget* row = RowWidget(currentRow());
    return row ? row->Text() : QString();
}

void SingleSelectListView::SetCurrentRow(int row)
{
    ListItemWidget* widget = RowWidget(row);
    if (!widget)
        return;
    setCurrentRow(row);
    widget->RadioButton()->setChecked(true);
}

ListItemWidget* SingleSelectListView::RowWidget(int row) const
{
    if (row < 0 || row >= count())
        return nullptr;
    return qobject_cast<ListItemWidget*>(itemWidget(item(row)));
}

// A click right on a radio button does not reach the list, so the checked row is made current
// here; otherwise CurrentText would name another category than the one shown as chosen.
void SingleSelectListView::Slot_RadioToggled(QAbstractButton* button, bool checked)
{
    if (!checked)
        return;
    for (int row = 0; row < count(); ++row)
    {
        if (RowWidget(row) && RowWidget(row)->RadioButton() == button)
        {
            if (currentRow() != row)
                setCurrentRow(row);
            return;
        }
    }
}

void SingleSelectListView::Slot_DeleteItem()
{
    const auto* button = qobject_cast<QToolButton*>(sender());
    const auto rowOf = [this, button]
    {
        for (int row = 0; row < count(); ++row)
        {
            if (RowWidget(row) && RowWidget(row)->DeleteButton() == button)
                return row;
        }
        return -1;
    };
    int row = rowOf();
    if (row < 0)
        return;
    const QString text = RowWidget(row)->Text();
    if (CMsgWnd::Question(this, tr("提示"), tr("确定删除标注类别：%1吗？").arg(text)) != 1)
        return;
    const std::shared_ptr<IPrjCore> project = PrjIns().lock();
    if (!project)
        return;
    // The list may have changed while the question was open.
    row = rowOf();
    if (row < 0)
        return;
    delete takeItem(row);
    project->DelMarkType(text);
    ColourRows();
    emit Signal_ItemDeleted(text);
}
