#include "ui/control/data_set_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "host/host.h"
#include "model/param_items.h"
#include "ui/common/prompter.h"
#include "ui/control/command_report.h"
#include "ui/control/control_texts.h"

namespace tessel {

namespace {

QGroupBox* SwitchGroup(const char* name, QRadioButton* (&buttons)[2], QWidget* parent) {
  auto* group = new QGroupBox(parent);
  group->setObjectName(name);
  auto* layout = new QHBoxLayout(group);
  for (QRadioButton*& b : buttons) {
    b = new QRadioButton(group);
    layout->addWidget(b);
  }
  return group;
}

}  // namespace

TFrmDataSet::TFrmDataSet(Host& host, Prompter& prompter, std::function<uint8_t()> selectedAddress,
                         QWidget* parent)
    : QDialog(parent),
      host_(host),
      prompter_(prompter),
      selectedAddress_(std::move(selectedAddress)) {
  setObjectName("TFrmDataSet");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  lblName_ = new QLabel(this);
  ListBox1_ = new QListWidget(this);
  ListBox1_->setObjectName("ListBox1");
  lblName_->setBuddy(ListBox1_);
  ListBox1_->setFixedWidth(280);
  const std::string& model = host_.Ctx().model.ModelCode;
  for (int i = 0; i < ParamItemCount(model); ++i) ListBox1_->addItem(QString());

  grpSetting_ = new QGroupBox(this);
  grpSetting_->setObjectName("grpSetting");
  lb_Value_ = new QLabel(grpSetting_);
  lb_Value_->setObjectName("lb_Value");
  Edit1_ = new QLineEdit(grpSetting_);
  Edit1_->setObjectName("Edit1");
  // Digits and a point only; the check decides what the text means.
  Edit1_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9.]*"), Edit1_));
  ComboBox1_ = new QComboBox(grpSetting_);
  ComboBox1_->setObjectName("ComboBox1");
  ComboBox1_->setEditable(false);
  RadioGroup4_ = SwitchGroup("RadioGroup4", buzzer_, grpSetting_);
  RadioGroup5_ = SwitchGroup("RadioGroup5", boost_, grpSetting_);
  btnSetTo_ = new QPushButton(grpSetting_);
  btnSetTo_->setObjectName("btnSetTo");
  btnSetTo_->setAutoDefault(false);

  auto* area = new QGridLayout(grpSetting_);
  area->addWidget(lb_Value_, 0, 0);
  area->addWidget(Edit1_, 0, 1);
  area->addWidget(ComboBox1_, 0, 1);
  area->addWidget(RadioGroup4_, 1, 0, 1, 2);
  area->addWidget(RadioGroup5_, 2, 0, 1, 2);
  area->addWidget(btnSetTo_, 3, 1, Qt::AlignRight);

  auto* right = new QVBoxLayout;
  right->addWidget(grpSetting_);
  right->addStretch();
  auto* left = new QVBoxLayout;
  left->addWidget(lblName_);
  left->addWidget(ListBox1_);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left);
  layout->addLayout(right);
  grpSetting_->setFixedWidth(260);
  grpSetting_->hide();
  setFixedSize(580, 420);

  connect(ListBox1_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    SelItem = ListBox1_->row(item);
    ShowItem();
  });
  connect(ListBox1_, &QListWidget::currentRowChanged, this, [this](int row) {
    // The keyboard moves the selection without a click; it shows the item the same way.
    if (row == SelItem) return;
    SelItem = row;
    ShowItem();
  });
  connect(btnSetTo_, &QPushButton::clicked, this, &TFrmDataSet::SetToClick);
  ApplyTexts();
}

void TFrmDataSet::showEvent(QShowEvent* event) {
  ApplyTexts();
  QDialog::showEvent(event);
}

void TFrmDataSet::ApplyTexts() {
  const uint8_t language = host_.Ctx().settings.Language;
  setWindowTitle(Tr(txt::DataSetCaption, language));
  lblName_->setText(Tr(txt::DataSetName, language));
  lb_Value_->setText(Tr(txt::DataSetValue, language));
  RadioGroup4_->setTitle(Tr(txt::DataSetBuzzer, language));
  RadioGroup5_->setTitle(Tr(txt::DataSetBoost, language));
  for (QRadioButton* const* pair : {buzzer_, boost_}) {
    pair[0]->setText(Tr(txt::Enable, language));
    pair[1]->setText(Tr(txt::Disable, language));
  }
  btnSetTo_->setText(Tr(txt::DataSetSet, language));
  for (int i = 0; i < ListBox1_->count(); ++i) {
    const ParamItemInfo& item = ParamItem(i);
    ListBox1_->item(i)->setText(QString::fromUtf8(IsChinese(language) ? item.zh : item.en));
  }
  ListBox1_->setAccessibleName(Tr(txt::DataSetName, language));
  Edit1_->setAccessibleName(Tr(txt::DataSetValue, language));
  ComboBox1_->setAccessibleName(Tr(txt::DataSetValue, language));
}

void TFrmDataSet::ShowItem() {
  host_.CatchUp();
  const Context& ctx = host_.Ctx();
  const TUpsInfo& unit = ctx.model.UpsTable[selectedAddress_()];
  // Only a unit that answers shows a value, so nothing is set on a guess.
  if (SelItem < 0 || unit.CommState != kCommOk) {
    grpSetting_->hide();
    return;
  }
  const ItemView view =
      ShowParamItem(SelItem, unit.Params, ctx.model.ModelCode, ctx.settings.Language);
  const bool list = view.layout == ItemLayout::List;
  const bool number = view.layout == ItemLayout::Number;
  const bool switches = view.layout == ItemLayout::Switches;
  lb_Value_->setVisible(!switches);
  Edit1_->setVisible(number);
  ComboBox1_->setVisible(list);
  RadioGroup4_->setVisible(switches);
  RadioGroup5_->setVisible(switches);
  grpSetting_->setFixedHeight(switches ? kSwitchAreaHeight : kListAreaHeight);
  ComboBox1_->clear();
  Edit1_->clear();
  for (const ParamChoice& c : view.choices) ComboBox1_->addItem(QString::fromStdString(c.text));
  ComboBox1_->setCurrentIndex(view.selected);
  if (number) Edit1_->setText(QString::fromStdString(view.number));
  buzzer_[view.buzzerDisabled ? 1 : 0]->setChecked(true);
  boost_[view.boostDisabled ? 1 : 0]->setChecked(true);
  grpSetting_->show();
}

void TFrmDataSet::SetToClick() {
  if (!PortIsOnForCommands(host_, prompter_, this)) return;
  host_.CatchUp();
  Context& ctx = host_.Ctx();
  const uint8_t addr = selectedAddress_();
  const TUpsInfo& unit = ctx.model.UpsTable[addr];
  ItemInput in;
  in.choice = ComboBox1_->currentIndex();
  in.number = Edit1_->text().toStdString();
  in.buzzerDisabled = buzzer_[1]->isChecked();
  in.boostDisabled = boost_[1]->isChecked();
  const ItemCheck check = CheckParamItem(SelItem, in, unit.Params, ctx.model.ModelCode);
  if (check.numberText) Edit1_->setText(QString::fromStdString(*check.numberText));
  if (!check.ok) {
    (Edit1_->isVisible() ? static_cast<QWidget*>(Edit1_) : ComboBox1_)->setFocus();
    prompter_.Tell(this, MessageKind::Warning, QString::fromStdString(check.message));
    return;
  }
  const CmdResult r = RequestParamWrite(ctx.cmd, ctx.settings.PortInfo.Protocol, addr,
                                        ParamItem(SelItem).reg, check.value);
  host_.Rearm();
  ReportCommand(r, prompter_, this, ctx.settings.Language);
}

}  // namespace tessel
