#pragma once
// The picture view and its reading: Qt's image readers straight from the stream, with a cap on what
// a picture's header may make them allocate.

#include <QByteArray>
#include <QImage>
#include <QScrollArea>

class QIODevice;
class QLabel;

namespace kestrine::ui {

// A crafted header may claim any size; bigger pictures are refused and the dump shown instead.
inline constexpr int PictureAllocationLimitMiB = 256;

// The picture in Device read as Format ("bmp", "gif", "jpeg"), or by its content when Format is
// empty; a null image when the data is bad or nothing recognises it.
QImage ReadPicture(QIODevice& Device, const QByteArray& Format);
// The format of the picture library that recognises Device's content; empty for none.
QByteArray RecognisedPictureFormat(QIODevice& Device);

// The picture at its own size, its top-left part in view; or, fitted, shrunk to the window.
class TPictureView final : public QScrollArea {
 public:
  explicit TPictureView(QWidget* Parent = nullptr);
  void SetImage(const QImage& Image);
  void Clear() { SetImage(QImage()); }
  const QImage& Image() const { return FImage; }
  void SetFitToWindow(bool Fit);
  bool FitToWindow() const { return FFit; }
  QLabel* Label() const { return imgPreview; }

 protected:
  void resizeEvent(QResizeEvent* Event) override;

 private:
  void UpdatePixmap();

  QLabel* imgPreview;
  QImage FImage;
  bool FFit = false;
};

}  // namespace kestrine::ui
