#include "ChartCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tarnwick {

ChartCard::ChartCard(const QString& title, QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setAccessibleName(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 12);
    layout->setSpacing(8);
    auto* header = new QHBoxLayout;
    m_title = new QLabel(title, this);
    QFont font = m_title->font();
    font.setWeight(QFont::DemiBold);
    m_title->setFont(font);
    header->addWidget(m_title);
    header->addStretch(1);
    layout->addLayout(header);
    m_body = new QVBoxLayout;
    m_body->setSpacing(6);
    layout->addLayout(m_body, 1);
}

void ChartCard::addHeaderWidget(QWidget* widget)
{
    auto* header = static_cast<QHBoxLayout*>(static_cast<QVBoxLayout*>(layout())->itemAt(0)->layout());
    header->addWidget(widget);
}

} // namespace tarnwick
