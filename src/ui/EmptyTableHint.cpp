#include "EmptyTableHint.h"
#include "StateColors.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QEvent>
#include <QLabel>

EmptyTableHint* EmptyTableHint::install(QAbstractItemView* view, const QString& text)
{
    return new EmptyTableHint(view, text);
}

EmptyTableHint::EmptyTableHint(QAbstractItemView* view, const QString& text)
    : QObject(view)
    , m_viewport(view->viewport())
    , m_model(view->model())
    , m_label(new QLabel(text, view->viewport()))
{
    setObjectName(QStringLiteral("emptyTableHint"));
    m_label->setObjectName(QStringLiteral("emptyTableHintLabel"));
    m_label->setAlignment(Qt::AlignCenter);
    StateColors::apply(m_label, StateColors::Tone::Muted); // muted, yet readable
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    view->viewport()->installEventFilter(this);
    if (m_model) {
        connect(m_model, &QAbstractItemModel::rowsInserted, this, &EmptyTableHint::update);
        connect(m_model, &QAbstractItemModel::rowsRemoved, this, &EmptyTableHint::update);
        connect(m_model, &QAbstractItemModel::modelReset, this, &EmptyTableHint::update);
        connect(m_model, &QAbstractItemModel::layoutChanged, this, &EmptyTableHint::update);
    }
    update();
}

QString EmptyTableHint::text() const
{
    return m_label->text();
}

bool EmptyTableHint::isShown() const
{
    return !m_label->isHidden();
}

bool EmptyTableHint::eventFilter(QObject* watched, QEvent* event)
{
    if (m_viewport && watched == m_viewport && event->type() == QEvent::Resize) {
        m_label->setGeometry(m_viewport->rect());
    }
    return QObject::eventFilter(watched, event);
}

void EmptyTableHint::update()
{
    if (!m_viewport) {
        return;
    }
    m_label->setGeometry(m_viewport->rect());
    m_label->setVisible(!m_model || m_model->rowCount() == 0);
}
