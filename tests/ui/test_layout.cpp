// The stored layout at its stored size: no control overlaps a sibling, every control lies inside
// its parent (below a group's caption), and no caption is wider than its control. The same for the
// instrument window as it is built.
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "app/main_window.h"
#include "instrument/instrument_window.h"
#include "tests/support/ui_driver.h"

namespace {

QString Describe(const QWidget *w) {
  const QRect r = w->geometry();
  return QStringLiteral("%1 (%2,%3 %4x%5)")
      .arg(w->objectName())
      .arg(r.x())
      .arg(r.y())
      .arg(r.width())
      .arg(r.height());
}

// The controls placed on a container: its direct child widgets (a combo box's edit line or a
// text box's scroll bars belong to their control, not to the container). A layout gives hidden
// controls no place, so `shownOnly` leaves them out.
std::vector<QWidget *> Controls(QWidget *container, bool shownOnly = false) {
  std::vector<QWidget *> out;
  for (QWidget *w : container->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
    if (!w->isWindow() && !(shownOnly && w->isHidden())) out.push_back(w);
  return out;
}

// Every container of the window: the area around the pages, the five pages and every group.
std::vector<QWidget *> Containers(TForm1 &form) {
  std::vector<QWidget *> out{form.centralWidget()};
  auto *pages = form.findChild<QTabWidget *>(QStringLiteral("PageControl1"));
  for (int i = 0; i < pages->count(); ++i) out.push_back(pages->widget(i));
  for (QGroupBox *g : form.findChildren<QGroupBox *>()) out.push_back(g);
  return out;
}

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_.show();
    ui::Pump(20);
    // Lay out every page once, so that all of them have their stored geometry.
    auto *pages = form_.findChild<QTabWidget *>(QStringLiteral("PageControl1"));
    for (int i = pages->count() - 1; i >= 0; --i) {
      pages->setCurrentIndex(i);
      ui::Pump(5);
    }
  }
  TForm1 form_;
};

TEST_F(LayoutTest, StoredSizesAndFont) {
  EXPECT_EQ(form_.size(), QSize(1093, 651));
  auto *pages = form_.findChild<QTabWidget *>(QStringLiteral("PageControl1"));
  EXPECT_EQ(pages->size(), QSize(1057, 425));
  // Every tab caption is shown whole, without scroll buttons or elision.
  EXPECT_LE(pages->tabBar()->sizeHint().width(), pages->width());
  // The layout was measured with this font; a missing font would silently change every width.
  EXPECT_EQ(QFontInfo(form_.font()).family().toStdString(), form_.font().family().toStdString());
  // The wiring pictures fit their pages.
  for (const char *name : {"Image7", "Image2"}) {
    auto *image = ui::Find<QLabel>(&form_, name);
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(QRect(QPoint(0, 0), image->parentWidget()->size()).contains(image->geometry())) << name;
  }
}

void ExpectNoSiblingsOverlap(const std::vector<QWidget *> &containers, bool shownOnly) {
  for (QWidget *container : containers) {
    const auto controls = Controls(container, shownOnly);
    for (size_t i = 0; i < controls.size(); ++i)
      for (size_t j = i + 1; j < controls.size(); ++j)
        EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
            << "in " << container->objectName().toStdString() << ": "
            << Describe(controls[i]).toStdString() << " overlaps " << Describe(controls[j]).toStdString();
  }
}

void ExpectControlsInsideTheirParent(const std::vector<QWidget *> &containers, bool shownOnly) {
  for (QWidget *container : containers) {
    QRect inside(QPoint(0, 0), container->size());
    // Nothing may cover a group's caption.
    if (auto *g = qobject_cast<QGroupBox *>(container); g && !g->title().isEmpty())
      inside.setTop(QFontMetrics(g->font()).height());
    for (QWidget *w : Controls(container, shownOnly))
      EXPECT_TRUE(inside.contains(w->geometry()))
          << Describe(w).toStdString() << " leaves " << container->objectName().toStdString();
  }
}

void ExpectNoTextCutOff(QWidget *window) {
  for (QLabel *l : window->findChildren<QLabel *>()) {
    if (l->text().isEmpty()) continue;
    const QFontMetrics fm(l->font());
    const QRect room = l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
    if (l->wordWrap()) {
      const QRect needed = fm.boundingRect(QRect(0, 0, room.width(), 10000), Qt::TextWordWrap, l->text());
      EXPECT_LE(needed.height(), room.height()) << Describe(l).toStdString();
    } else {
      EXPECT_LE(fm.horizontalAdvance(l->text()), room.width()) << Describe(l).toStdString();
      EXPECT_LE(fm.height(), room.height()) << Describe(l).toStdString();
    }
  }
  for (QPushButton *b : window->findChildren<QPushButton *>()) {
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    const QRect room = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
    EXPECT_LE(QFontMetrics(b->font()).horizontalAdvance(b->text()), room.width()) << Describe(b).toStdString();
  }
  for (QCheckBox *c : window->findChildren<QCheckBox *>()) {
    QStyleOptionButton opt;
    opt.initFrom(c);
    opt.text = c->text();
    const QRect room = c->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, c);
    EXPECT_LE(QFontMetrics(c->font()).horizontalAdvance(c->text()), room.width()) << Describe(c).toStdString();
  }
  for (QGroupBox *g : window->findChildren<QGroupBox *>()) {
    if (g->title().isEmpty()) continue;
    EXPECT_LE(QFontMetrics(g->font()).horizontalAdvance(g->title()) + 16, g->width()) << Describe(g).toStdString();
  }
  // Edit lines and lists tall enough for their text.
  for (QLineEdit *e : window->findChildren<QLineEdit *>()) {
    if (qobject_cast<QComboBox *>(e->parentWidget())) continue;
    EXPECT_GE(e->height(), e->minimumSizeHint().height()) << Describe(e).toStdString();
  }
  for (QComboBox *c : window->findChildren<QComboBox *>())
    EXPECT_GE(c->height(), c->minimumSizeHint().height()) << Describe(c).toStdString();
}

TEST_F(LayoutTest, NoSiblingsOverlap) { ExpectNoSiblingsOverlap(Containers(form_), false); }

TEST_F(LayoutTest, ControlsLieInsideTheirParent) { ExpectControlsInsideTheirParent(Containers(form_), false); }

TEST_F(LayoutTest, NoTextIsCutOff) { ExpectNoTextCutOff(&form_); }

// "Instrument..." has its place on the "Transparent Mode" page (the checks above keep it clear of
// the rest), and the window it opens is laid out as cleanly.
TEST_F(LayoutTest, TheInstrumentButtonAndItsWindow) {
  auto *button = ui::Find<QPushButton>(&form_, "InstrumentButton");
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->parentWidget()->objectName().toStdString(), "GroupBox5");
  EXPECT_FALSE(button->isHidden());

  button->click();
  InstrumentWindow *window = form_.Instrument();
  ASSERT_NE(window, nullptr);
  ui::Pump(20);
  std::vector<QWidget *> containers{window};
  for (QGroupBox *g : window->findChildren<QGroupBox *>()) containers.push_back(g);
  ExpectNoSiblingsOverlap(containers, true);
  ExpectControlsInsideTheirParent(containers, true);
  ExpectNoTextCutOff(window);
  window->close();
}

// Whatever the screen's pixel ratio (this test also runs at 1.5 and 2), each picture fills its
// place at the screen's resolution: not larger than its label, and scaled up smoothly beforehand
// when its file has fewer pixels than the screen needs rather than stretched blockily at paint.
TEST_F(LayoutTest, PicturesFollowTheScreensPixelRatio) {
  const qreal ratio = form_.devicePixelRatioF();
  for (const char *name : {"Image1", "Image7", "Image2"}) {
    auto *label = ui::Find<QLabel>(&form_, name);
    ASSERT_NE(label, nullptr);
    const QPixmap pixmap = label->pixmap();
    ASSERT_FALSE(pixmap.isNull()) << name;
    const QSizeF shown = pixmap.deviceIndependentSize();
    EXPECT_LE(shown.width(), label->width() + 0.5) << name;
    EXPECT_LE(shown.height(), label->height() + 0.5) << name;
    EXPECT_GE(pixmap.devicePixelRatio(), ratio - 0.01) << name;
    EXPECT_TRUE(pixmap.width() >= std::floor(label->width() * ratio) ||
                pixmap.height() >= std::floor(label->height() * ratio))
        << name << ": " << pixmap.width() << "x" << pixmap.height() << " pixels at ratio " << ratio;
  }
}

}  // namespace
