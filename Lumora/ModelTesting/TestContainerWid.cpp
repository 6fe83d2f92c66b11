#include "TestContainerWid.h"
#include "ui_TestContainerWid.h"

#include "LoadModelWork.h"
#include "SingleTestWid.h"

#include "ImgMarks/MarksResultWid.h"

#include "ComLib/ComFunc.h"
#include "ComUi/CMsgWnd.h"
#include "ComUi/ComboListModel.h"
#include "Nexil/NexilApi.h"

#include <QCheckBox>
#include <QHBoxLayout>

#include <algorithm>

TestContainerWid::TestContainerWid(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TestContainerWidClass>()), m_models(new ComboListModel(this))
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("TestContainerWid"));
    m_markView = new MarksResultWid(ui->widTestList);
    m_markView->hide();
    m_panelRow = new QHBoxLayout(ui->widTestList);
    m_panelRow->setContentsMargins(0, 0, 0, 0);
    m_panelRow->setSpacing(10);
    // The annotation is an image like the predictions beside it and gets the same share of the width.
    m_panelRow->addWidget(m_markView, 1);

    auto* work = m_modelThread.Adopt(new LoadModelWork);
    connect(this, &TestContainerWid::Signal_GetModels, work, &LoadModelWork::Slot_GetModels);
    connect(work, &LoadModelWork::Signal_ModelList, this, &TestContainerWid::Slot_ModelList);
    m_modelThread.Start();

    connect(ui->btnAddTest, &QPushButton::clicked, this, &TestContainerWid::Slot_BtnAddTestClicked);
    connect(ui->ckShowMark, &QCheckBox::stateChanged, this, &TestContainerWid::Slot_ckShowMarkStateChanged);

    // Only the panel made with the container reports its image lists to the page.
    SingleTestWid* first = AddPanel();
    connect(first, &SingleTestWid::Signal_TestRlt, this, &TestContainerWid::Signal_TestRlt);
}

TestContainerWid::~TestContainerWid() = default;

void TestContainerWid::ReloadModels()
{
    const auto spPrj = PrjIns().lock();
    if (spPrj)
        emit Signal_GetModels(spPrj->PrjPath() + QStringLiteral("/train"));
}

void TestContainerWid::Slot_ModelList(QList<QPair<QString, QString>> lstModVer)
{
    // The names hold the start time of their run, so the newest comes first.
    std::sort(lstModVer.begin(), lstModVer.end(),
              [](const QPair<QString, QString>& a, const QPair<QString, QString>& b)
              { return a.first > b.first; });
    // The list is read again each time the page is shown; a panel keeps its choice, a running one
    // above all, whose combo box would otherwise name another version than the one it tests.
    QMap<SingleTestWid*, QString> chosen;
    for (SingleTestWid* panel : qAsConst(m_panels))
        chosen.insert(panel, panel->ChosenVersion());
    m_models->ClearItems();
    m_models->AddItems(lstModVer);
    for (auto it = chosen.cbegin(); it != chosen.cend(); ++it)
        it.key()->ChooseVersion(it.value());
}

void TestContainerWid::ShowImage(std::weak_ptr<pro::ImageInfo> wpImg, bool withTruth)
{
    m_shownImg = wpImg;
    m_markView->showImage(wpImg);
    for (SingleTestWid* panel : qAsConst(m_panels))
        panel->ShowTestImage(wpImg, withTruth);
}

bool TestContainerWid::Testing() const
{
    return std::any_of(m_panels.cbegin(), m_panels.cend(),
                       [](const SingleTestWid* panel) { return panel->IsRunning(); });
}

void TestContainerWid::Slot_ckShowMarkStateChanged(int state)
{
    m_markView->setVisible(state != 0);
}

void TestContainerWid::Slot_BtnAddTestClicked()
{
    if (m_panels.size() >= kMaxPanels)
    {
        CMsgWnd::Information(this, tr("提示"), tr("已达上限。"), NOTIFY_ABOUT);
        return;
    }
    AddPanel();
}

SingleTestWid* TestContainerWid::AddPanel()
{
    const QString id = QString::fromStdString(comlib::MakeUniqueId());
    auto* panel = new SingleTestWid(id, m_models, ui->widTestList);
    connect(panel, &SingleTestWid::Signal_DelTest, this, &TestContainerWid::Slot_DelTestItem);
    connect(panel, &SingleTestWid::Signal_RunningChanged, this,
            [this] { emit Signal_TestingChanged(Testing()); });
    connect(panel, &SingleTestWid::Signal_ResultChanged, this, &TestContainerWid::Signal_ResultsChanged);
    connect(panel, &SingleTestWid::Signal_TestValidationSet, this,
            [this, id] { emit Signal_TestValidationSet(id); });
    panel->SetTestImages(m_testImages, m_setName);
    m_panels.insert(id, panel);
    m_panelRow->addWidget(panel, 1);
    emit Signal_ResultsChanged();
    return panel;
}

QList<SingleTestWid*> TestContainerWid::PanelsInRow() const
{
    QList<SingleTestWid*> panels;
    for (int i = 0; i < m_panelRow->count(); ++i)
    {
        if (auto* panel = qobject_cast<SingleTestWid*>(m_panelRow->itemAt(i)->widget()))
            panels.append(panel);
    }
    return panels;
}

void TestContainerWid::ClearResults()
{
    for (SingleTestWid* panel : qAsConst(m_panels))
        panel->ClearResult();
}

void TestContainerWid::SetTestImages(const QStringList& relativePaths, const QString& setName)
{
    m_testImages = relativePaths;
    m_setName = setName;
    for (SingleTestWid* panel : qAsConst(m_panels))
        panel->SetTestImages(relativePaths, setName);
}

void TestContainerWid::Slot_DelTestItem(QString id)
{
    SingleTestWid* panel = m_panels.take(id);
    if (!panel)
        return;
    const bool wasRunning = panel->IsRunning();
    m_panelRow->removeWidget(panel);
    panel->hide();
    // The request comes from the panel's own button, which is still in its click; the panel goes once
    // the event loop has it back, and until then it neither sends nor shows anything.
    panel->Discard();
    panel->disconnect(this);
    panel->deleteLater();
    if (wasRunning)
        emit Signal_TestingChanged(Testing());
    emit Signal_ResultsChanged();
}
