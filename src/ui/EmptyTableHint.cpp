#include "EmptyTableHint.h"

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
    , m_view(view)
    , m_label(new QLabel(text, view->viewport()))
{
    setObjectName(QStringLiteral("emptyTableHint"));
    m_label->setObjectName(QStringLiteral("emptyTableHintLabel"));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setEnabled(false); // drawn in the muted colour of the style
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    view->viewport()->installEventFilter(this);
    if (QAbstractItemModel* model = view->model()) {
        connect(model, &QAbstractItemModel::rowsInserted, this, &EmptyTableHint::update);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &EmptyTableHint::update);
        connect(model, &QAbstractItemModel::modelReset, this, &EmptyTableHint::update);
        connect(model, &QAbstractItemModel::layoutChanged, this, &EmptyTableHint::update);
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
    if (m_view && watched == m_view->viewport() && event->type() == QEvent::Resize) {
        m_label->setGeometry(m_view->viewport()->rect());
    }
    return QObject::eventFilter(watched, event);
}

void EmptyTableHint::update()
{
    if (!m_view) {
        return;
    }
    const QAbstractItemModel* model = m_view->model();
    m_label->setGeometry(m_view->viewport()->rect());
    m_label->setVisible(!model || model->rowCount() == 0);
}
