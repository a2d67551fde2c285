// Drawings of .xls sheets: a sheet's OfficeArt drawing read into its objects, and the objects
// placed on written sheets (moved, copied per copy of their rows) with the drawing group's ids and
// picture reference counts kept right.
#pragma once

#include "workbook/xls.h"
#include "workbook/xls/anchors.h"

#include <functional>
#include <utility>
#include <vector>

namespace lw::xls {

// Splits a sheet's drawing (the bytes of its MSODRAWING records, and the records between them with
// the length of the bytes before each) into Sheet::drawingPatriarch and Sheet::objects. Returns
// what could not be read ("drawings (unreadable)"), empty when all was.
QString readDrawing(const QByteArray& art, const std::vector<std::pair<qsizetype, Record>>& between,
                    Sheet& sheet);

// A chart's series formula (BRAI) moved for the copy of the chart that moved by `shift` rows.
using SeriesPlacer = std::function<void(Formula& formula, int shift)>;

// Places the blank's drawings on the written sheets of one workbook, giving each sheet's drawing
// its own drawing id and shape ids, and makes the drawing group that goes with them.
class DrawingPlacer {
public:
    explicit DrawingPlacer(const Workbook& blank);
    // The records of the source sheet's objects and comments for one written sheet (its
    // WorkbookWriter::SheetPart::Objects), each object once per shift map.shifts gives its top row:
    // a filter's drop-down once. Empty when the sheet gets no object.
    QByteArray sheet(const Sheet& source, const RowMap& map, const SeriesPlacer& series);
    // The drawing group for MSODRAWINGGROUP: the blank's, with the clusters of shape ids and the
    // pictures' reference counts of what was placed. Empty when nothing was.
    QByteArray group() const;
    bool placedCharts() const { return m_charts; }
    // What could not be placed (objects past a sheet's limit), empty when all was.
    QString problem() const { return m_problem; }

private:
    const Workbook& m_blank;
    quint32 m_drawings = 0;
    quint32 m_shapes = 0;
    quint32 m_spidMax = 0;
    std::vector<std::pair<quint32, quint32>> m_clusters; // drawing id, shape ids used
    std::vector<quint32> m_pictureRefs;                  // per picture of the store
    bool m_charts = false;
    QString m_problem;
};

} // namespace lw::xls
