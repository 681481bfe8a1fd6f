#include "MenuBarIconRenderer.h"

#include "controller/RateFormatter.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QSvgRenderer>

namespace tarnwick {

namespace {

// Draws `text` right-aligned ending at `right`, every digit in a cell as wide as the widest digit.
void drawTabular(QPainter& painter, const QString& text, qreal right, qreal baseline)
{
    const QFontMetricsF metrics(painter.font());
    qreal digitWidth = 0;
    for (char digit = '0'; digit <= '9'; ++digit)
        digitWidth = qMax(digitWidth, metrics.horizontalAdvance(QChar::fromLatin1(digit)));
    const auto advance = [&](QChar c) { return c.isDigit() ? digitWidth : metrics.horizontalAdvance(c); };
    qreal width = 0;
    for (const QChar c : text)
        width += advance(c);
    qreal x = right - width;
    for (const QChar c : text) {
        const qreal cell = advance(c);
        const qreal glyph = metrics.horizontalAdvance(c);
        painter.drawText(QPointF(x + (cell - glyph) / 2, baseline), QString(c));
        x += cell;
    }
}

} // namespace

MenuBarIconRenderer::MenuBarIconRenderer(QColor tint) : m_tint(std::move(tint)) {}

void MenuBarIconRenderer::setTint(const QColor& tint)
{
    if (tint == m_tint)
        return;
    m_tint = tint;
    m_lastInputs.reset();
}

QImage MenuBarIconRenderer::render(bool isRunning, bool isSuspended, qint64 txSpeed, qint64 rxSpeed,
                                   MenuBarIconMode mode)
{
    if (!isRunning)
        txSpeed = rxSpeed = 0;
    const Inputs inputs{isRunning, isSuspended, txSpeed, rxSpeed, mode};
    if (m_lastInputs == inputs)
        return m_lastImage;
    m_lastImage = draw(isSuspended, txSpeed, rxSpeed, mode);
    m_lastInputs = inputs;
    ++m_drawCount;
    return m_lastImage;
}

QImage MenuBarIconRenderer::symbol(bool isSuspended) const
{
    const int pixels = int(iconSize * scale);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QSvgRenderer svg(isSuspended ? QStringLiteral(":/icons/suspended.svg")
                                 : QStringLiteral(":/icons/tray.svg"));
    svg.render(&painter, QRectF(0, 0, pixels, pixels));
    // The drawings are black shapes: tint them like a template image.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), m_tint);
    return image;
}

QImage MenuBarIconRenderer::draw(bool isSuspended, qint64 txSpeed, qint64 rxSpeed, MenuBarIconMode mode) const
{
    if (mode == MenuBarIconMode::iconOnly) {
        QImage image = symbol(isSuspended);
        image.setDevicePixelRatio(scale);
        return image;
    }
    const bool withIcon = mode == MenuBarIconMode::iconAndSpeed;
    const int width = (withIcon ? iconSize + gap : 0) + textWidth;
    QImage image(int(width * scale), int(iconSize * scale), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (withIcon)
        painter.drawImage(QPointF(0, 0), symbol(isSuspended));
    painter.scale(scale, scale);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(fontSize);
    font.setWeight(QFont::Normal);
    painter.setFont(font);
    painter.setPen(m_tint);
    const QFontMetricsF metrics(font);
    const qreal lineHeight = metrics.ascent() + metrics.descent();
    const qreal block = 2 * lineHeight + lineSpacing;
    const qreal top = (iconSize - block) / 2;
    const qreal right = width;
    drawTabular(painter, RateFormatter::rate(txSpeed), right, top + metrics.ascent());
    drawTabular(painter, RateFormatter::rate(rxSpeed), right,
                top + lineHeight + lineSpacing + metrics.ascent());
    painter.end();
    image.setDevicePixelRatio(scale);
    return image;
}

} // namespace tarnwick
