#pragma once

#include <QObject>
#include <QPointer>

class QAbstractItemModel;
class QAbstractItemView;
class QLabel;

// One short line in the middle of a table that has no rows ("No print jobs"), so an empty table does not
// look like one that failed to draw. Owned by the view.
class EmptyTableHint : public QObject
{
    Q_OBJECT
public:
    // Call once the view has its model.
    static EmptyTableHint* install(QAbstractItemView* view, const QString& text);

    QString text() const;
    // Shown now (the model has no rows).
    bool isShown() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    EmptyTableHint(QAbstractItemView* view, const QString& text);
    void update();

    // Plain QObject pointers: the view may be half destroyed when its viewport's last events arrive.
    QPointer<QWidget> m_viewport;
    QPointer<QAbstractItemModel> m_model;
    QLabel* m_label = nullptr;
};
