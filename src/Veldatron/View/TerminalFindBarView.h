#pragma once

#include <QFrame>

#include <functional>

class QCheckBox;
class QLineEdit;
class QToolButton;

namespace veldatron {

struct SearchOptions;

/// The find bar floating at the top right of a terminal view: a search field, Previous, Next,
/// the three search options ("Aa" case sensitive, ".*" regular expression, "Word" whole word)
/// and Close. It only reports what the user does through its callbacks; the view searches.
/// Return finds the next match, Shift+Return the previous one, Escape closes the bar.
///
/// A child of the view, created on the first find and kept (hidden or shown) for the view's
/// life. It places itself: 8 pixels from the view's top and right edges, at most 520 wide.
class TerminalFindBarView : public QFrame {
    Q_OBJECT

public:
    explicit TerminalFindBarView(QWidget* parent);

    std::function<void(const QString&)> onSearchChanged;
    std::function<void()> onFindNext;
    std::function<void()> onFindPrevious;
    std::function<void()> onClose;
    std::function<void(const SearchOptions&)> onOptionsChanged;

    QLineEdit* searchField() const { return m_searchField; }
    QToolButton* previousButton() const { return m_previousButton; }
    QToolButton* nextButton() const { return m_nextButton; }
    QToolButton* closeButton() const { return m_closeButton; }
    QCheckBox* caseSensitiveButton() const { return m_caseSensitiveButton; }
    QCheckBox* regexButton() const { return m_regexButton; }
    QCheckBox* wholeWordButton() const { return m_wholeWordButton; }
    /// The three toggles as search options.
    SearchOptions options() const;
    /// Puts the bar at its place in the parent.
    void place();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void searchFieldAction(bool shift);
    void optionChanged();

    QLineEdit* m_searchField = nullptr;
    QToolButton* m_previousButton = nullptr;
    QToolButton* m_nextButton = nullptr;
    QToolButton* m_closeButton = nullptr;
    QCheckBox* m_caseSensitiveButton = nullptr;
    QCheckBox* m_regexButton = nullptr;
    QCheckBox* m_wholeWordButton = nullptr;
};

} // namespace veldatron
