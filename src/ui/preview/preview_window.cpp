#include "ui/preview/preview_window.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "ui/preview/dump_viewer.h"
#include "ui/preview/picture_view.h"
#include "ui/preview/preview_browser.h"
#include "ui/preview/preview_kind.h"
#include "ui/preview/stream_device.h"
#include "ui/settings/language_texts.h"
#include "ui/settings/worded_text.h"

namespace kestrine::ui {

namespace {

QString HexOffset(std::int64_t Offset) { return QStringLiteral("0x") + QString::number(Offset, 16).toUpper(); }

}  // namespace

TfrmPreview::TfrmPreview(const TLanguageDocument& Language, QWidget* Parent) : QDialog(Parent), FLanguage(Language) {
  setObjectName(QStringLiteral("frmPreview"));
  setWindowTitle(QStringLiteral("Preview"));
  setSizeGripEnabled(true);

  auto* layout = new QVBoxLayout(this);
  CreateMenu();
  layout->setMenuBar(mnuPreview);

  pcPreview = new QStackedWidget(this);
  pcPreview->setObjectName(QStringLiteral("pcPreview"));
  pcPreview->addWidget(CreateDumpPage());
  pcPreview->addWidget(CreateImagePage());
  pcPreview->addWidget(CreateBrowserPage());
  layout->addWidget(pcPreview, 1);

  auto* bottom = new QHBoxLayout;
  lblStatus = new QLabel(this);
  lblStatus->setObjectName(QStringLiteral("lblStatus"));
  lblStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
  btnClose = new QPushButton(QStringLiteral("Close"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setAutoDefault(false);
  bottom->addWidget(lblStatus, 1);
  bottom->addWidget(btnClose);
  layout->addLayout(bottom);
  connect(btnClose, &QPushButton::clicked, this, &TfrmPreview::btnCloseClick);
  // Controls made without a caption take the language's now.
  ApplyTexts(FLanguage, *this);
  ApplyHints();

  auto addShortcut = [this](const QKeySequence& Keys, auto Handler) {
    auto* action = new QAction(this);
    action->setShortcut(Keys);
    addAction(action);
    connect(action, &QAction::triggered, this, Handler);
  };
  addShortcut(QKeySequence(Qt::CTRL | Qt::Key_G), [this] {
    ShowDump();
    edtGoTo->setFocus();
    edtGoTo->selectAll();
  });
  addShortcut(QKeySequence::Find, [this] {
    ShowDump();
    edtFind->setFocus();
    edtFind->selectAll();
  });
  addShortcut(QKeySequence::FindNext, [this] { btnFindNextClick(); });

  // Wide enough for a hex row, tall enough for a screenful of them, in the user's font size.
  const QFontMetrics metrics(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  QSize wanted(metrics.horizontalAdvance(QLatin1Char('0')) * 110, metrics.height() * 40);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    wanted = wanted.boundedTo(screen->availableSize() * 9 / 10);
  resize(wanted);
  UpdateStatus();
}

TfrmPreview::~TfrmPreview() { FormDestroy(); }

void TfrmPreview::CreateMenu() {
  mnuPreview = new QMenuBar(this);
  mnuPreview->setObjectName(QStringLiteral("mnuPreview"));
  // The menu belongs to this window, not to a desktop's global menu bar.
  mnuPreview->setNativeMenuBar(false);
  View1 = mnuPreview->addMenu(QStringLiteral("&View"));
  View1->setObjectName(QStringLiteral("View1"));
  FViewGroup = new QActionGroup(this);
  FViewGroup->setExclusive(true);
  auto add = [this](const QString& Name, const QString& Caption, void (TfrmPreview::*Handler)()) {
    auto* action = new QAction(Caption, this);
    action->setObjectName(Name);
    action->setCheckable(true);
    FViewGroup->addAction(action);
    View1->addAction(action);
    connect(action, &QAction::triggered, this, Handler);
    return action;
  };
  AsHex1 = add(QStringLiteral("AsHex1"), QStringLiteral("As &Hex"), &TfrmPreview::AsHex1Click);
  AsBinary1 = add(QStringLiteral("AsBinary1"), QStringLiteral("As &Binary"), &TfrmPreview::AsBinary1Click);
  AsText1 = add(QStringLiteral("AsText1"), QStringLiteral("As &Text"), &TfrmPreview::AsText1Click);
  AsUnicode1 = add(QStringLiteral("AsUnicode1"), QStringLiteral("As &Unicode"), &TfrmPreview::AsUnicode1Click);
  View1->addSeparator();
  AsBitmap1 = add(QStringLiteral("AsBitmap1"), QStringLiteral("As Bit&map"), &TfrmPreview::AsBitmap1Click);
  AsWebpage1 = add(QStringLiteral("AsWebpage1"), QStringLiteral("As &Webpage"), &TfrmPreview::AsWebpage1Click);
  AsHex1->setChecked(true);
}

QWidget* TfrmPreview::CreateDumpPage() {
  tsDump = new QWidget;
  tsDump->setObjectName(QStringLiteral("tsDump"));
  auto* layout = new QVBoxLayout(tsDump);
  layout->setContentsMargins(0, 0, 0, 0);

  auto* bar = new QHBoxLayout;
  auto* goToLabel = new QLabel(tsDump);
  goToLabel->setObjectName(QStringLiteral("lblGoTo"));
  edtGoTo = new QLineEdit(tsDump);
  edtGoTo->setObjectName(QStringLiteral("edtGoTo"));
  goToLabel->setBuddy(edtGoTo);
  btnGoTo = new QPushButton(tsDump);
  btnGoTo->setObjectName(QStringLiteral("btnGoTo"));
  btnGoTo->setAutoDefault(false);
  auto* findLabel = new QLabel(tsDump);
  findLabel->setObjectName(QStringLiteral("lblFind"));
  edtFind = new QLineEdit(tsDump);
  edtFind->setObjectName(QStringLiteral("edtFind"));
  findLabel->setBuddy(edtFind);
  chkFindHex = new QCheckBox(tsDump);
  chkFindHex->setObjectName(QStringLiteral("chkFindHex"));
  chkMatchCase = new QCheckBox(tsDump);
  chkMatchCase->setObjectName(QStringLiteral("chkMatchCase"));
  btnFindNext = new QPushButton(tsDump);
  btnFindNext->setObjectName(QStringLiteral("btnFindNext"));
  btnFindNext->setAutoDefault(false);
  bar->addWidget(goToLabel);
  bar->addWidget(edtGoTo, 1);
  bar->addWidget(btnGoTo);
  bar->addSpacing(goToLabel->fontMetrics().averageCharWidth() * 3);
  bar->addWidget(findLabel);
  bar->addWidget(edtFind, 2);
  bar->addWidget(chkFindHex);
  bar->addWidget(chkMatchCase);
  bar->addWidget(btnFindNext);
  layout->addLayout(bar);

  ATBinHexPreview = new TDumpViewer(tsDump);
  ATBinHexPreview->setObjectName(QStringLiteral("ATBinHexPreview"));
  layout->addWidget(ATBinHexPreview, 1);

  connect(btnGoTo, &QPushButton::clicked, this, &TfrmPreview::btnGoToClick);
  connect(edtGoTo, &QLineEdit::returnPressed, this, &TfrmPreview::btnGoToClick);
  connect(btnFindNext, &QPushButton::clicked, this, &TfrmPreview::btnFindNextClick);
  connect(edtFind, &QLineEdit::returnPressed, this, &TfrmPreview::btnFindNextClick);
  connect(chkFindHex, &QCheckBox::toggled, chkMatchCase, &QCheckBox::setDisabled);
  connect(ATBinHexPreview, &TDumpViewer::FindFinished, this, &TfrmPreview::ATBinHexPreviewFindFinished);
  connect(ATBinHexPreview, &TDumpViewer::FindProgress, this, &TfrmPreview::ATBinHexPreviewFindProgress);
  connect(ATBinHexPreview, &TDumpViewer::PositionChanged, this, &TfrmPreview::UpdateStatus);
  return tsDump;
}

QWidget* TfrmPreview::CreateImagePage() {
  tsImage = new QWidget;
  tsImage->setObjectName(QStringLiteral("tsImage"));
  auto* layout = new QVBoxLayout(tsImage);
  layout->setContentsMargins(0, 0, 0, 0);
  chkFitToWindow = new QCheckBox(tsImage);
  chkFitToWindow->setObjectName(QStringLiteral("chkFitToWindow"));
  FPictureView = new TPictureView(tsImage);
  FPictureView->setObjectName(QStringLiteral("sbImage"));
  layout->addWidget(chkFitToWindow);
  layout->addWidget(FPictureView, 1);
  connect(chkFitToWindow, &QCheckBox::toggled, this, &TfrmPreview::chkFitToWindowClick);
  return tsImage;
}

QWidget* TfrmPreview::CreateBrowserPage() {
  tsBrowser = new QWidget;
  tsBrowser->setObjectName(QStringLiteral("tsBrowser"));
  auto* layout = new QVBoxLayout(tsBrowser);
  layout->setContentsMargins(0, 0, 0, 0);
  lblBrowserNote = new QLabel(tsBrowser);
  lblBrowserNote->setObjectName(QStringLiteral("lblBrowserNote"));
  lblBrowserNote->setWordWrap(true);
  lblBrowserNote->hide();
  brwPreview = new TPreviewBrowser(tsBrowser);
  brwPreview->setObjectName(QStringLiteral("brwPreview"));
  layout->addWidget(lblBrowserNote);
  layout->addWidget(brwPreview, 1);
  return tsBrowser;
}

void TfrmPreview::ApplyHints() {
  edtGoTo->setPlaceholderText(Text(TText::strOffsetHint));
  edtGoTo->setMinimumWidth(edtGoTo->fontMetrics().horizontalAdvance(edtGoTo->placeholderText() + QStringLiteral("MM")));
  ATBinHexPreview->SetMenuTexts(Text(TText::strCopy), Text(TText::strSelectAll));
}

bool TfrmPreview::ShowFile(std::unique_ptr<TRecoveryStream> Stream, const QString& FileName) {
  if (!Stream) return false;
  // The language may have changed since the window was made; captions follow it on their own.
  ApplyHints();
  setWindowTitle(QStringLiteral("Preview [") + FileName + u']');
  pcPreview->setCurrentWidget(tsImage);
  AsHex1->setChecked(true);
  brwPreview->Blank();
  lblBrowserNote->hide();
  FPictureView->Clear();
  const TPreviewKind kind = PreviewKindOf(FileName);

  // The viewer lets go of the old stream before the stream itself goes.
  ATBinHexPreview->OpenSource(nullptr);
  FStream = std::move(Stream);
  const std::optional<TReason> failure = FStream->Failure();
  FNote = failure ? ReasonText(FLanguage, *failure) : QString();
  ATBinHexPreview->SetEmptyText(FNote.isEmpty() ? Text(TText::strPreviewEmpty) : FNote);
  // Hex before the source: laying a huge file out in the text modes would read its end.
  ATBinHexPreview->SetMode(TViewerMode::vbmodeHex);
  ATBinHexPreview->OpenSource(std::make_unique<TStreamByteSource>(*FStream));
  ATBinHexPreview->viewport()->update();
  FStream->Seek(0, TSeekOrigin::Beginning);
  pcPreview->setCurrentWidget(tsDump);

  TStreamDevice device(*FStream);
  switch (kind) {
    case TPreviewKind::Bitmap: {
      // Loaded for "As Bitmap", but the dump stays in front.
      const QImage image = ReadPicture(device, "bmp");
      if (!image.isNull()) FPictureView->SetImage(image);
      break;
    }
    case TPreviewKind::WebPage: {
      const TBrowserLoad load = LoadStreamIntoBrowser(*brwPreview, *FStream);
      if (load.Shown < load.Size) {
        const QLocale locale;
        lblBrowserNote->setText(Text(TText::strPreviewPageCut)
                                    .arg(locale.formattedDataSize(load.Shown), locale.formattedDataSize(load.Size)));
        lblBrowserNote->show();
      }
      pcPreview->setCurrentWidget(tsBrowser);
      AsWebpage1->setChecked(true);
      break;
    }
    case TPreviewKind::Gif:
    case TPreviewKind::Jpeg: ShowPicture(ReadPicture(device, kind == TPreviewKind::Gif ? "gif" : "jpeg")); break;
    case TPreviewKind::ByContent: {
      const QByteArray format = RecognisedPictureFormat(device);
      // Content that a reader recognises but cannot decode is shown as the dump, like bad GIF data.
      if (!format.isEmpty()) ShowPicture(ReadPicture(device, format));
      break;
    }
  }
  FStream->Seek(0, TSeekOrigin::Beginning);
  btnFindNext->setText(FLanguage.LookupText(btnFindNext->objectName()));
  // The keys scroll what is in front from the start.
  if (pcPreview->currentWidget() == tsDump)
    ATBinHexPreview->setFocus();
  else if (pcPreview->currentWidget() == tsBrowser)
    brwPreview->setFocus();
  else
    FPictureView->setFocus();
  UpdateStatus();
  return true;
}

void TfrmPreview::ShowPicture(const QImage& Image) {
  if (Image.isNull()) {
    pcPreview->setCurrentWidget(tsDump);
    return;
  }
  FPictureView->SetImage(Image);
  AsBitmap1->setChecked(true);
  pcPreview->setCurrentWidget(tsImage);
}

void TfrmPreview::SetDumpMode(TViewerMode Mode) {
  ATBinHexPreview->SetMode(Mode);
  ATBinHexPreview->viewport()->update();
  pcPreview->setCurrentWidget(tsDump);
  UpdateStatus();
}

void TfrmPreview::ShowDump() {
  if (pcPreview->currentWidget() == tsDump) return;
  switch (ATBinHexPreview->Mode()) {
    case TViewerMode::vbmodeHex: AsHex1->setChecked(true); break;
    case TViewerMode::vbmodeBinary: AsBinary1->setChecked(true); break;
    case TViewerMode::vbmodeText: AsText1->setChecked(true); break;
    case TViewerMode::vbmodeUnicode: AsUnicode1->setChecked(true); break;
  }
  SetDumpMode(ATBinHexPreview->Mode());
}

void TfrmPreview::AsHex1Click() {
  AsHex1->setChecked(true);
  SetDumpMode(TViewerMode::vbmodeHex);
}

void TfrmPreview::AsBinary1Click() {
  AsBinary1->setChecked(true);
  SetDumpMode(TViewerMode::vbmodeBinary);
}

void TfrmPreview::AsText1Click() {
  AsText1->setChecked(true);
  SetDumpMode(TViewerMode::vbmodeText);
}

void TfrmPreview::AsUnicode1Click() {
  AsUnicode1->setChecked(true);
  SetDumpMode(TViewerMode::vbmodeUnicode);
}

void TfrmPreview::AsBitmap1Click() {
  AsBitmap1->setChecked(true);
  pcPreview->setCurrentWidget(tsImage);
  UpdateStatus();
}

void TfrmPreview::AsWebpage1Click() {
  AsWebpage1->setChecked(true);
  pcPreview->setCurrentWidget(tsBrowser);
  UpdateStatus();
}

void TfrmPreview::btnCloseClick() { close(); }

void TfrmPreview::btnGoToClick() {
  const std::optional<std::int64_t> offset = ParseOffset(edtGoTo->text());
  if (!offset) {
    FNote = Text(TText::strNotAnOffset).arg(edtGoTo->text());
  } else {
    FNote.clear();
    ATBinHexPreview->GoToOffset(*offset);
    ATBinHexPreview->setFocus();
  }
  UpdateStatus();
}

void TfrmPreview::btnFindNextClick() {
  if (ATBinHexPreview->Finding()) {
    ATBinHexPreview->CancelFind();
    btnFindNext->setText(FLanguage.LookupText(btnFindNext->objectName()));
    FNote = Text(TText::strSearchStopped);
    UpdateStatus();
    return;
  }
  ShowDump();
  QList<QByteArray> patterns;
  if (chkFindHex->isChecked()) {
    if (const std::optional<QByteArray> bytes = ParseHexBytes(edtFind->text())) patterns.append(*bytes);
    if (patterns.isEmpty()) FNote = Text(TText::strNotAByteSequence);
  } else {
    patterns = TextPatterns(edtFind->text(), ATBinHexPreview->Mode());
    if (patterns.isEmpty()) FNote = Text(TText::strNothingToFind);
  }
  if (patterns.isEmpty()) {
    UpdateStatus();
    return;
  }
  FNote = Text(TText::strSearching);
  btnFindNext->setText(Text(TText::strStopFind));
  UpdateStatus();
  ATBinHexPreview->StartFind(patterns, !chkFindHex->isChecked() && !chkMatchCase->isChecked());
}

void TfrmPreview::ATBinHexPreviewFindFinished(bool Found) {
  btnFindNext->setText(FLanguage.LookupText(btnFindNext->objectName()));
  FNote = Found ? QString() : Text(TText::strNotFound);
  UpdateStatus();
}

void TfrmPreview::ATBinHexPreviewFindProgress(qint64 Position) {
  const std::int64_t size = ATBinHexPreview->Size();
  FNote = Text(TText::strSearchingPercent).arg(size > 0 ? Position * 100 / size : 100);
  UpdateStatus();
}

void TfrmPreview::chkFitToWindowClick() { FPictureView->SetFitToWindow(chkFitToWindow->isChecked()); }

void TfrmPreview::UpdateStatus() {
  if (!lblStatus) return;
  const QLocale locale;
  QStringList parts;
  if (FStream) {
    const std::int64_t size = ATBinHexPreview->Size();
    parts << Text(TText::strBytes).arg(locale.toString(static_cast<qlonglong>(size)));
    if (pcPreview->currentWidget() == tsDump) {
      if (const std::int64_t length = ATBinHexPreview->SelectionLength())
        parts << Text(TText::strSelectedBytes)
                     .arg(HexOffset(ATBinHexPreview->SelectionStart()), locale.toString(static_cast<qlonglong>(length)));
      else if (size > 0)
        parts << Text(TText::strTopOffset).arg(HexOffset(ATBinHexPreview->TopOffset()));
    } else if (pcPreview->currentWidget() == tsImage && !FPictureView->Image().isNull()) {
      parts << Text(TText::strPixels).arg(FPictureView->Image().width()).arg(FPictureView->Image().height());
    }
  }
  if (!FNote.isEmpty()) parts << FNote;
  lblStatus->setText(parts.join(QStringLiteral("  ·  ")));
}

void TfrmPreview::FormDestroy() {
  ATBinHexPreview->OpenSource(nullptr);
  brwPreview->Blank();
  FPictureView->Clear();
  FStream.reset();
}

}  // namespace kestrine::ui
