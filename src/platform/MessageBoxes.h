#pragma once

#include <QString>

class QWidget;

namespace ew {

enum class MsgIcon { None, Critical, Information, Question, Warning };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

// Modal message boxes. Texts may hold carriage returns alone as line breaks. In a Yes/No box
// No is the default button, the answer that Enter gives.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual MsgAnswer show(QWidget* parent, const QString& text, const QString& title, MsgIcon icon,
                           MsgButtons buttons) = 0;
};

class QtMessageBoxes final : public MessageBoxes {
public:
    MsgAnswer show(QWidget* parent, const QString& text, const QString& title, MsgIcon icon,
                   MsgButtons buttons) override;
};

} // namespace ew
