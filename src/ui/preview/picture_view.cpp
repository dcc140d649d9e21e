#include "ui/preview/picture_view.h"

#include <QImageReader>
#include <QLabel>
#include <QPixmap>

namespace kestrine::ui {

QImage ReadPicture(QIODevice& Device, const QByteArray& Format) {
  QImageReader::setAllocationLimit(PictureAllocationLimitMiB);
  if (!Device.seek(0)) return {};
  QImageReader reader(&Device, Format);
  // A named format is that format or nothing: a ".gif" holding a PNG is bad GIF data.
  reader.setAutoDetectImageFormat(Format.isEmpty());
  reader.setAutoTransform(true);
  QImage image;
  if (!reader.read(&image)) return {};
  return image;
}

QByteArray RecognisedPictureFormat(QIODevice& Device) {
  if (!Device.seek(0)) return {};
  const QByteArray format = QImageReader::imageFormat(&Device);
  Device.seek(0);
  return format;
}

TPictureView::TPictureView(QWidget* Parent) : QScrollArea(Parent), imgPreview(new QLabel) {
  imgPreview->setObjectName(QStringLiteral("imgPreview"));
  imgPreview->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // Around a fitted picture: a neutral backdrop, not the page colour.
  viewport()->setBackgroundRole(QPalette::Dark);
  setWidget(imgPreview);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void TPictureView::SetImage(const QImage& Image) {
  FImage = Image;
  UpdatePixmap();
}

void TPictureView::SetFitToWindow(bool Fit) {
  if (FFit == Fit) return;
  FFit = Fit;
  setWidgetResizable(Fit);
  setAlignment(Fit ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop);
  imgPreview->setAlignment(Fit ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop);
  UpdatePixmap();
}

void TPictureView::resizeEvent(QResizeEvent* Event) {
  QScrollArea::resizeEvent(Event);
  if (FFit) UpdatePixmap();
}

void TPictureView::UpdatePixmap() {
  if (FImage.isNull()) {
    imgPreview->clear();
    imgPreview->adjustSize();
    return;
  }
  QImage shown = FImage;
  const QSize room = viewport()->size();
  // Fitting only shrinks: a small picture blown up would show pixels that are not there.
  if (FFit && (shown.width() > room.width() || shown.height() > room.height()) && !room.isEmpty())
    shown = FImage.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  imgPreview->setPixmap(QPixmap::fromImage(shown));
  if (!FFit) imgPreview->adjustSize();
}

}  // namespace kestrine::ui
