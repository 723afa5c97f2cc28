#pragma once

#include <deque>
#include <functional>

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

// Answers the modal dialogs that a call opens, one step per dialog in the order they appear.
// A zero-delay timer watches QApplication::activeModalWidget(); each step must close the dialog
// it is given (accept, reject or click a button). A dialog that appears with no step left is
// rejected and recorded, so a wrong script fails instead of hanging.
class ModalScript
{
public:
    using Step = std::function<void(QWidget*)>;

    ModalScript& Then(Step step)
    {
        m_steps.push_back(std::move(step));
        return *this;
    }

    template <class Call> auto Run(Call call) -> decltype(call())
    {
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [this] { Answer(); });
        timer.start(0);
        return call();
    }

    int StepsLeft() const { return static_cast<int>(m_steps.size()); }
    const QStringList& Unexpected() const { return m_unexpected; }

private:
    void Answer()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || m_answering)
            return;
        m_answering = true;
        if (m_steps.empty()) {
            m_unexpected << modal->metaObject()->className();
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            else
                modal->close();
        } else {
            Step step = std::move(m_steps.front());
            m_steps.pop_front();
            step(modal);
        }
        m_answering = false;
    }

    std::deque<Step> m_steps;
    QStringList m_unexpected;
    bool m_answering = false;
};
