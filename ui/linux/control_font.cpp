#include "ui/linux/control_font.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include "ui/linux/toolkit_state.h"

namespace {

constexpr int CONTROL_FONT_PIXELS = 11;
constexpr int SMALLEST_FONT_PIXELS = 7;

// Width and height that the text of `control` may use.
QSize TextRoom(const QWidget* control, const QFont& font) {
    const QStyle* style = control->style();
    if (const auto* box = qobject_cast<const QCheckBox*>(control)) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.fontMetrics = QFontMetrics(font);
        option.text = box->text();
        const QRect contents = style->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
        return contents.size();
    }
    if (qobject_cast<const QPushButton*>(control) != nullptr) {
        const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, control);
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, control);
        return QSize(control->width() - 2 * margin, control->height() - 2 * frame);
    }
    if (qobject_cast<const QGroupBox*>(control) != nullptr) {
        // The title sits in the top edge with a little room on either side.
        return QSize(control->width() - 16, control->height());
    }
    if (qobject_cast<const QLineEdit*>(control) != nullptr) {
        // Inside the frame a line edit keeps one more pixel above and below its text.
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, control);
        return QSize(control->width() - 2 * frame - 4, control->height() - 2 * frame - 2);
    }
    return control->contentsRect().size();
}

QString TextOf(const QWidget* control) {
    if (const auto* label = qobject_cast<const QLabel*>(control)) return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
    if (const auto* frame = qobject_cast<const QGroupBox*>(control)) return frame->title();
    if (const auto* field = qobject_cast<const QLineEdit*>(control)) return field->text();
    return QString();
}

}  // namespace

QFont ChooseControlFont() {
    QFont font = QApplication::font();
    // Sans serifs with the proportions the layout was drawn for; the desktop's own sans
    // serif when none of them is installed.
    font.setFamilies({QStringLiteral("Nimbus Sans"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial"), QStringLiteral("Helvetica"), font.family()});
    font.setPixelSize(CONTROL_FONT_PIXELS);
    return font;
}

int32_t TextFitsControl(const QWidget* control, const QFont& font) {
    const QFontMetrics metrics(font);
    const QSize room = TextRoom(control, font);
    const QString text = TextOf(control);
    if (qobject_cast<const QLineEdit*>(control) != nullptr) {
        // A field scrolls sideways; only the glyphs' height, from capitals to descenders, has
        // to fit (the font's line box is taller than that).
        const QRect glyphs = metrics.tightBoundingRect(QStringLiteral("HÁgjpqy|/"));
        return glyphs.height() <= room.height() ? 1 : 0;
    }
    if (const auto* label = qobject_cast<const QLabel*>(control); label && label->wordWrap()) {
        const QRect needed =
            metrics.boundingRect(QRect(0, 0, room.width(), 10000), Qt::TextWordWrap, text);
        return needed.width() <= room.width() && needed.height() <= room.height() ? 1 : 0;
    }
    return metrics.horizontalAdvance(text) <= room.width() && metrics.height() <= room.height() ? 1
                                                                                                : 0;
}

void FitControlFont(QWidget* control) {
    QFont font = Toolkit().controlFont;
    if (TextFitsControl(control, font) == 0) {
        // First the narrow cut of a like face at the same size, so that the text keeps its
        // height; only then smaller sizes.
        font.setFamilies({QStringLiteral("Nimbus Sans Narrow"),
                          QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial Narrow"),
                          QStringLiteral("DejaVu Sans Condensed"), QApplication::font().family()});
        while (font.pixelSize() > SMALLEST_FONT_PIXELS && TextFitsControl(control, font) == 0) {
            font.setPixelSize(font.pixelSize() - 1);
        }
    }
    control->setFont(font);
}
