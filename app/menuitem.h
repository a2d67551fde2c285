// TMenuItem: a menu item that carries a Tag and a GroupIndex, the marks by which the main window
// finds its recent-files items (group 1) and its window-list items (group 2).
#pragma once

#include <QAction>

namespace lw {

class TMenuItem : public QAction {
    Q_OBJECT
    Q_PROPERTY(int Tag READ tag WRITE setTag)
    Q_PROPERTY(int GroupIndex READ groupIndex WRITE setGroupIndex)
public:
    // A named item: objectName() is name, the text is caption; the caption "-" makes a separator.
    TMenuItem(const QString& name, const QString& caption, QObject* parent = nullptr);

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    int groupIndex() const { return m_groupIndex; }
    void setGroupIndex(int group) { m_groupIndex = group; }

    // The caption as the user sees it. Captions come from file names, which may hold "&": it is
    // doubled so that it shows as itself rather than marking an access letter. A separator's
    // caption is "-".
    QString caption() const;
    void setCaption(const QString& caption);

private:
    int m_tag = 0;
    int m_groupIndex = 0;
};

} // namespace lw
