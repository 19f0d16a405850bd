// Vemotrace_compv: the trace pipeline (files and results in the header).
//
// Three stage groups, each announced on the status callback first. Every
// stage closes its file before the next one opens it; the square table of
// stage 2 lives only while stages 3 and 4 use it.
#include "trace/Vemotrace_compv.h"

#include <stdexcept>
#include <utility>

#include "base/Vemo_path.h"
#include "base/Vemo_runcontrol.h"
#include "common/Vemo_texts.h"
#include "trace/Vemotrace_compv1.h"
#include "trace/Vemotrace_compv2.h"
#include "trace/Vemotrace_compv3.h"
#include "trace/Vemotrace_compv4.h"
#include "trace/Vemotrace_compv5.h"
#include "trace/Vemotrace_records.h"

TVemotrace_compV::TVemotrace_compV(std::string imageFileName, StatusSink status, const std::string& intermediateFolder)
    : m_imageFileName(std::move(imageFileName)), m_status(std::move(status)) {
    const std::string folder = intermediateFolder.empty() ? SplitPath(m_imageFileName).folder : intermediateFolder;
    m_squaresPath = JoinPath(folder, records::kSquaresFileName);
    m_groupsPath = JoinPath(folder, records::kGroupsFileName);
    m_pointsPath = JoinPath(folder, records::kPointsFileName);
    m_linesPath = JoinPath(folder, records::kLinesFileName);
}

void TVemotrace_compV::ShowStatus(const char* text) const {
    if (m_status) m_status(text);
    // Each stage group is a step of its own for the progress, and a place
    // where a stopped run ends.
    if (RunScope* scope = RunScope::Current()) scope->NewStep();
}

void TVemotrace_compV::RunTrace(const BitmapView& bitmap) {
    if (bitmap.width > 0 && bitmap.height > 0 && bitmap.pixels == nullptr) {
        throw std::invalid_argument("RunTrace: bitmap without pixels");
    }
    RunTrace(PackedBitmap::FromBytes(bitmap));
}

void TVemotrace_compV::RunTrace(PackedBitmap bitmap, const std::function<void()>& beforeAdjusting) {
    ShowStatus(texts::kStatusAnalysing);
    m_imageWidth = bitmap.Width();
    m_imageHeight = bitmap.Height();
    m_squareCount = TVemotrace_compV1(m_squaresPath).MakeSquares(std::move(bitmap));

    ShowStatus(texts::kStatusSynthesising);
    {
        TVemotrace_compV2 squares(m_squaresPath, m_squareCount);
        ::SquareTable& table = squares.SquareTable();
        table.width = m_imageWidth;  // stages 3 and 4 clip to the image
        table.height = m_imageHeight;
        {
            const TVemotrace_compV3 groups(m_groupsPath, table);
            m_groupCount = groups.GroupCount();
            m_memberCount = groups.MemberCount();
        }
        const TVemotrace_compV4 graph(m_groupsPath, m_pointsPath, m_linesPath, table, m_groupCount, m_memberCount);
        m_pointCount = graph.PointCount();
        m_linkCount = graph.LinkCount();
    }

    if (beforeAdjusting) beforeAdjusting();
    ShowStatus(texts::kStatusAdjusting);
    TVemotrace_compV5 lines(m_pointsPath, m_linesPath, m_pointCount, m_linkCount);
    lines.AdjustLines();
    m_polylineCount = lines.PolylineCount();
    m_vertexCount = lines.VertexCount();
}

TraceResult TVemotrace_compV::CollectResults() const {
    TraceResult result;
    result.squaresPath = m_squaresPath;
    result.groupsPath = m_groupsPath;
    result.linesPath = m_linesPath;
    result.pointsPath = m_pointsPath;
    result.squareCount = m_squareCount;
    result.groupCount = m_groupCount;
    result.memberCount = m_memberCount;
    result.imageWidth = m_imageWidth;
    result.imageHeight = m_imageHeight;
    return result;
}
