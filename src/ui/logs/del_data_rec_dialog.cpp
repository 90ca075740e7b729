#include "ui/logs/del_data_rec_dialog.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>

#include "log/data_log_query.h"
#include "ui/common/prompter.h"
#include "ui/logs/data_log_texts.h"

namespace tessel {

TFrmDelDataRec::TFrmDelDataRec(uint8_t language, std::string recordDir, Prompter& prompter,
                               QWidget* parent)
    : QDialog(parent), language_(language), recordDir_(std::move(recordDir)), prompter_(prompter) {
  setObjectName("TFrmDelDataRec");
  label1_ = new QLabel(this);
  label1_->setObjectName("Label1");
  label1_->setWordWrap(true);
  label2_ = new QLabel(this);
  label2_->setObjectName("Label2");
  label2_->setWordWrap(true);
  listBox1_ = new QListWidget(this);
  listBox1_->setObjectName("ListBox1");
  btnDelete_ = new QPushButton(this);
  btnDelete_->setObjectName("btnDelete");

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label1_);
  layout->addWidget(label2_);
  layout->addWidget(listBox1_, 1);
  layout->addWidget(btnDelete_);

  setWindowTitle(Tr(txt::DelDataRecTitle, language));
  label1_->setText(Tr(txt::DeleteMonthHelp1, language));
  label2_->setText(Tr(txt::DeleteMonthHelp2, language));
  listBox1_->setAccessibleName(Tr(txt::MonthListName, language));
  btnDelete_->setText(Tr(txt::DeleteMonthButton, language));
  btnDelete_->setToolTip(Tr(txt::DeleteMonthHint, language));
  resize(420, 320);

  // The folder is named in full; the process's current folder stays where it is.
  for (const std::string& item : ListDataLogMonths(recordDir_))
    listBox1_->addItem(QString::fromStdString(item));
  if (listBox1_->count() > 0) listBox1_->setCurrentRow(-1);

  connect(btnDelete_, &QPushButton::clicked, this, &TFrmDelDataRec::DeleteSelected);
}

void TFrmDelDataRec::DeleteSelected() {
  if (!prompter_.AskWarning(this, Tr(txt::DeleteMonthCaption, language_),
                            Tr(txt::DeleteMonthConfirm, language_)))
    return;
  QListWidgetItem* item = listBox1_->currentItem();
  if (item == nullptr || !item->isSelected()) return;
  const std::string name = item->text().toStdString();
  if (!DeleteDataLogMonth(recordDir_, name)) {
    // The month is still there: say so and keep it in the list.
    const auto path = std::filesystem::path(recordDir_) / (name + ".dat");
    prompter_.Tell(this, MessageKind::Error,
                   Tr(txt::DeleteMonthFailed, language_)
                       .arg(QDir::toNativeSeparators(QString::fromStdString(path.string()))));
    return;
  }
  ++deleted_;
  delete listBox1_->takeItem(listBox1_->row(item));
}

}  // namespace tessel
