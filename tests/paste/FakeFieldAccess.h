#pragma once

#include "FieldAccess.h"

#include <QHash>
#include <QStringList>

// A desktop made of plain data: one frontmost application with one focused element,
// each of whose details can be missing. Counts calls, so tests can tell where a
// check stopped.
class FakeFieldAccess final : public FieldAccess {
public:
    bool trusted = true;
    std::optional<FrontmostApplication> frontmost = FrontmostApplication{4242, {"editor"}};
    qint64 ownPid = 1000;
    AccessibleElement focus{QStringLiteral(":1.7"), QStringLiteral("/field")};
    std::optional<QString> elementRole = QStringLiteral("entry");
    std::optional<AccessibleElement> elementWindow =
        AccessibleElement(QStringLiteral(":1.7"), QStringLiteral("/window"));
    std::optional<TextSelection> elementSelection = TextSelection{3, {}};
    std::optional<QString> elementText = QStringLiteral("abc");
    std::optional<qint64> elementCharacters = 3;
    bool heldModifier = false;
    bool keystrokeWorks = true;
    int keystrokes = 0;
    QStringList calls;

    bool isTrusted() override { return record("trusted"), trusted; }
    std::optional<FrontmostApplication> frontmostApplication() override {
        return record("frontmost"), frontmost;
    }
    qint64 ownProcessId() const override { return ownPid; }
    AccessibleElement focusedElement(qint64 pid) override {
        record("focused");
        return frontmost && pid == frontmost->pid ? focus : AccessibleElement();
    }
    std::optional<QString> role(const AccessibleElement&) override {
        return record("role"), elementRole;
    }
    std::optional<AccessibleElement> window(const AccessibleElement&) override {
        return record("window"), elementWindow;
    }
    std::optional<TextSelection> selection(const AccessibleElement&) override {
        return record("selection"), elementSelection;
    }
    std::optional<QString> text(const AccessibleElement&) override {
        return record("text"), elementText;
    }
    std::optional<qint64> characterCount(const AccessibleElement&) override {
        return record("characters"), elementCharacters;
    }
    bool modifierHeld() override { return record("modifiers"), heldModifier; }
    bool postPasteKeystroke() override {
        record("keystroke");
        keystrokes += keystrokeWorks ? 1 : 0;
        return keystrokeWorks;
    }

private:
    void record(const char* call) { calls.append(QString::fromLatin1(call)); }
};
