#include "ui/filter/search_filter_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "engine/volume/file_info.h"
#include "filter/query_object.h"
#include "settings/language_files.h"
#include "support/date_time.h"

namespace kestrine::ui {
namespace {

class FilterDialog : public ::testing::Test {
 protected:
  template <typename T>
  T* Find(const char* Name) {
    T* widget = Dialog.findChild<T*>(QString::fromLatin1(Name));
    EXPECT_NE(widget, nullptr) << Name;
    return widget;
  }
  void Click(const char* Name) { Find<QAbstractButton>(Name)->click(); }

  TfrmSearchFilters Dialog;
};

TEST_F(FilterDialog, ControlsCarryTheirNamesTextsAndDefaults) {
  EXPECT_EQ(Dialog.windowTitle(), QStringLiteral("Search Filters"));
  EXPECT_TRUE(Find<QRadioButton>("rbtShowAll")->isChecked());
  EXPECT_EQ(Find<QRadioButton>("rbtShowAll")->text(), QStringLiteral("Show All Files"));
  EXPECT_FALSE(Find<QRadioButton>("rbtUseFilter")->isChecked());
  EXPECT_EQ(Find<QLabel>("Label1")->text(), QStringLiteral("Show files and folders found by mask or keyword:"));
  EXPECT_EQ(Find<QLineEdit>("edNameMask")->text(), QStringLiteral("*.*"));
  EXPECT_TRUE(Find<QPushButton>("btnOK")->isDefault());
  EXPECT_EQ(Find<QPushButton>("btnAdvanced")->text(), QStringLiteral("Advanced >>"));
  EXPECT_EQ(Find<QGroupBox>("gbSearchTips")->title(), QStringLiteral("Search tips"));
  Find<QPushButton>("btnCancel");

  auto* pages = Find<QTabWidget>("pcAdvanced");
  ASSERT_EQ(pages->count(), 3);
  EXPECT_EQ(pages->tabText(0), QStringLiteral("Date"));
  EXPECT_EQ(pages->tabText(1), QStringLiteral("Size"));
  EXPECT_EQ(pages->tabText(2), QStringLiteral("Attributes"));

  EXPECT_TRUE(Find<QRadioButton>("rbtAllDates")->isChecked());
  for (const char* name : {"dtpDateBegin", "dtpDateEnd"}) {
    auto* picker = Find<QDateEdit>(name);
    EXPECT_TRUE(picker->calendarPopup()) << name;
    EXPECT_EQ(picker->date(), QDate::currentDate()) << name;
  }
  EXPECT_EQ(Find<QSpinBox>("seMonths")->maximum(), 2'000'000);
  EXPECT_EQ(Find<QSpinBox>("seDays")->maximum(), 20'000'000);
  Find<QRadioButton>("rbtDateBetween");
  Find<QRadioButton>("rbtPrevMonths");
  Find<QRadioButton>("rbtPrevDays");

  EXPECT_FALSE(Find<QCheckBox>("cbxSize")->isChecked());
  Find<QSpinBox>("seSize");
  EXPECT_TRUE(Find<QRadioButton>("rbtSizeEqual")->isChecked());
  Find<QRadioButton>("rbtSizeGreater");
  Find<QRadioButton>("rbtSizeSmaller");

  EXPECT_TRUE(Find<QRadioButton>("rbtAnyAttrs")->isChecked());
  Find<QRadioButton>("rbtSelAttrs");
  for (const char* name : {"cbxArchive", "cbxReadOnly", "cbxSystem", "cbxHidden"})
    EXPECT_FALSE(Find<QCheckBox>(name)->isChecked()) << name;
}

TEST_F(FilterDialog, DefaultsLetEverythingThrough) {
  const TFilter filter = Dialog.BuildFilter();
  EXPECT_EQ(filter, TFilter{});

  TFileInfo plain, hidden;
  plain.Name = "notes";
  hidden.Name = "x.sys";
  hidden.Attributes = FileAttr::Hidden | FileAttr::System;
  hidden.Size = 1 << 20;
  TQueryObject query;
  query.SetFilter(filter);
  EXPECT_TRUE(query.Matches(&plain));
  EXPECT_TRUE(query.Matches(&hidden));

  // Show All wins over whatever the other controls hold.
  Find<QCheckBox>("cbxSize")->setChecked(true);
  Click("rbtSelAttrs");
  Click("cbxHidden");
  EXPECT_EQ(Dialog.BuildFilter(), TFilter{});
}

TEST_F(FilterDialog, ControlsBecomeTheFilter) {
  Click("rbtUseFilter");
  auto* mask = Find<QLineEdit>("edNameMask");
  mask->clear();
  QTest::keyClicks(mask, QStringLiteral("  *.txt "));

  Click("cbxSize");
  Find<QSpinBox>("seSize")->setValue(10);
  Click("rbtSizeGreater");

  Click("rbtDateBetween");
  Find<QDateEdit>("dtpDateBegin")->setDate(QDate(2024, 2, 1));
  Find<QDateEdit>("dtpDateEnd")->setDate(QDate(2024, 2, 29));

  Click("rbtSelAttrs");
  Click("cbxHidden");
  Click("cbxReadOnly");

  TFilter expected;
  expected.Flags = qfName | qfDate | qfSize | qfSizeGreater | qfAttributes;
  expected.NameMask = ".*[.]txt";
  expected.Size = 10 * 1024;
  expected.DateFrom = EncodeDate({2024, 2, 1});
  expected.DateTo = EncodeDate({2024, 2, 29});
  expected.Attributes = FileAttr::Hidden | FileAttr::ReadOnly;
  EXPECT_EQ(Dialog.BuildFilter(), expected);

  Click("rbtSizeSmaller");
  EXPECT_EQ(Dialog.BuildFilter().Flags & (qfSizeEqual | qfSizeGreater | qfSizeSmaller), qfSizeSmaller);
  Click("rbtSizeEqual");
  EXPECT_EQ(Dialog.BuildFilter().Flags & (qfSizeEqual | qfSizeGreater | qfSizeSmaller), qfSizeEqual);
  Click("cbxSize");
  EXPECT_EQ(Dialog.BuildFilter().Flags & (qfSize | qfSizeEqual), 0);
  Click("rbtAnyAttrs");
  EXPECT_EQ(Dialog.BuildFilter().Flags & qfAttributes, 0);
  Click("rbtAllDates");
  EXPECT_EQ(Dialog.BuildFilter().Flags, qfName);
}

TEST_F(FilterDialog, PreviousMonthsAndDaysEndAtTodaysMidnight) {
  Click("rbtUseFilter");
  const TCivilDate today = LocalToday();
  Click("rbtPrevDays");
  Find<QSpinBox>("seDays")->setValue(3);
  TFilter filter = Dialog.BuildFilter();
  EXPECT_EQ(filter.Flags, qfName | qfDate);
  EXPECT_EQ(filter.DateTo, EncodeDate(today));
  EXPECT_EQ(filter.DateFrom, EncodeDate(today) - 3);

  Click("rbtPrevMonths");
  Find<QSpinBox>("seMonths")->setValue(2);
  filter = Dialog.BuildFilter();
  EXPECT_EQ(filter.DateTo, EncodeDate(today));
  EXPECT_EQ(filter.DateFrom, EncodeDate(MonthsBefore(today, 2)));
}

TEST_F(FilterDialog, AdvancedShowsAndHidesThePages) {
  Dialog.show();
  auto* pages = Find<QTabWidget>("pcAdvanced");
  auto* advanced = Find<QPushButton>("btnAdvanced");
  EXPECT_FALSE(pages->isVisible());
  const int collapsed = Dialog.height();

  advanced->click();
  EXPECT_TRUE(pages->isVisible());
  EXPECT_EQ(advanced->text(), QStringLiteral("Advanced <<"));
  EXPECT_GT(Dialog.height(), collapsed);

  advanced->click();
  EXPECT_FALSE(pages->isVisible());
  EXPECT_EQ(advanced->text(), QStringLiteral("Advanced >>"));
  EXPECT_EQ(Dialog.height(), collapsed);

  // A translated caption keeps its words and only turns its arrows.
  advanced->setText(QStringLiteral("Erweitert >>"));
  advanced->click();
  EXPECT_EQ(advanced->text(), QStringLiteral("Erweitert <<"));
  Dialog.hide();
}

TEST_F(FilterDialog, ShowAllDisablesTheFilterControlsUseFilterEnablesThem) {
  const char* controls[] = {"edNameMask", "rbtAllDates", "dtpDateBegin", "seDays", "cbxSize",
                            "seSize", "rbtSizeSmaller", "rbtSelAttrs", "cbxHidden"};
  for (const char* name : controls) EXPECT_TRUE(Find<QWidget>(name)->isEnabled()) << name;
  Click("rbtShowAll");
  for (const char* name : controls) EXPECT_FALSE(Find<QWidget>(name)->isEnabled()) << name;
  EXPECT_TRUE(Find<QWidget>("btnAdvanced")->isEnabled());
  EXPECT_TRUE(Find<QWidget>("pcAdvanced")->isEnabled());  // the pages stay browsable
  Click("rbtUseFilter");
  for (const char* name : controls) EXPECT_TRUE(Find<QWidget>(name)->isEnabled()) << name;
}

TEST_F(FilterDialog, ExecuteGivesTheFilterOnOkKeepsItOnCancelAndRemembersTheControls) {
  Click("rbtUseFilter");
  Find<QLineEdit>("edNameMask")->setText(QStringLiteral("readme"));

  TFilter filter;
  filter.Flags = qfFolder;
  QTimer::singleShot(0, &Dialog, [this] { Click("btnCancel"); });
  EXPECT_FALSE(Dialog.Execute(filter));
  EXPECT_EQ(filter.Flags, qfFolder);
  EXPECT_EQ(filter.NameMask, "");

  QTimer::singleShot(0, &Dialog, [this] { Click("btnOK"); });
  EXPECT_TRUE(Dialog.Execute(filter));
  EXPECT_EQ(filter.Flags, qfName);
  EXPECT_EQ(filter.NameMask, ".*readme.*");

  // Shown again, it still holds what the user chose.
  QTimer::singleShot(0, &Dialog, [this] {
    EXPECT_TRUE(Find<QRadioButton>("rbtUseFilter")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("edNameMask")->text(), QStringLiteral("readme"));
    Click("btnOK");
  });
  EXPECT_TRUE(Dialog.Execute(filter));
  EXPECT_EQ(filter.NameMask, ".*readme.*");
}

// The English file gives every captioned control of the dialog the text it was designed with, so
// applying it changes nothing, and no control is left out of the languages.
TEST_F(FilterDialog, EnglishLanguageFileHoldsTheDesignedCaptions) {
  TLanguageDocument english;
  TSettingsProblem error;
  ASSERT_TRUE(english.Load(QStringLiteral(KESTRINE_DATA_SOURCE "/Langs/English.txt"), &error)) << error.Facts.join(u' ').toStdString();
  auto check = [&](const QString& Name, const QString& Text) {
    EXPECT_EQ(english.LookupText(Name), Text) << Name.toStdString();
  };
  int captioned = 0;
  for (QWidget* w : Dialog.findChildren<QWidget*>()) {
    // The tab bar's own scroll buttons are Qt's, not ours.
    if (w->objectName().isEmpty() || qobject_cast<QTabBar*>(w->parentWidget())) continue;
    if (auto* button = qobject_cast<QAbstractButton*>(w)) check(w->objectName(), button->text());
    else if (auto* label = qobject_cast<QLabel*>(w)) check(w->objectName(), label->text());
    else if (auto* group = qobject_cast<QGroupBox*>(w)) check(w->objectName(), group->title());
    else continue;
    ++captioned;
  }
  auto* pages = Find<QTabWidget>("pcAdvanced");
  for (int i = 0; i < pages->count(); ++i) check(pages->widget(i)->objectName(), pages->tabText(i));
  EXPECT_EQ(captioned, 29);
}

}  // namespace
}  // namespace kestrine::ui
