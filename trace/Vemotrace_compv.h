// Vemotrace_compv: the trace pipeline, from a bitmap to polylines.
//
// Runs the five stages one after another; they hand their results on
// through intermediate files in the image's folder (a bare file name puts
// them in the current directory), or in the folder the caller names
// instead (the command line's private folder):
//   temp.sqr  squares (stage 1)           temp.pxy  points (stage 4)
//   temp.sqo  group members (stage 3)     temp.lix  links (stage 4), then
//                                                   polylines (stage 5)
// The files stay on disk after the run: the export and the viewer read
// them. Progress goes out as the texts "2.画像分析", "3.画像合成" and
// "4.線分調整" through the status callback.
//
// RunTrace throws FileError when an intermediate file cannot be created,
// read or written; no later stage runs then and the results must not be
// used. CollectResults hands out paths, counts and image size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "trace/Vemotrace_packed.h"
#include "trace/Vemotrace_types.h"

class TVemotrace_compV {
public:
    explicit TVemotrace_compV(std::string imageFileName, StatusSink status = {},
                              const std::string& intermediateFolder = {});

    // Once, with either form of the bitmap; both give the same files.
    void RunTrace(const BitmapView& bitmap);
    // `beforeAdjusting`, when given, is called once stages 1 to 4 are done
    // and have given their memory back, just before stage 5: the squares
    // file is complete then, and CollectResults tells where it is.
    void RunTrace(PackedBitmap bitmap, const std::function<void()>& beforeAdjusting = {});
    TraceResult CollectResults() const;

    // The counts of stages 4 and 5, which TraceResult does not carry.
    int32_t PointCount() const { return m_pointCount; }
    int32_t LinkCount() const { return m_linkCount; }
    int32_t PolylineCount() const { return m_polylineCount; }
    int32_t VertexCount() const { return m_vertexCount; }

private:
    void ShowStatus(const char* text) const;

    std::string m_imageFileName;
    StatusSink m_status;
    std::string m_squaresPath;
    std::string m_groupsPath;
    std::string m_pointsPath;
    std::string m_linesPath;
    int32_t m_squareCount = 0;
    int32_t m_groupCount = 0;
    int32_t m_memberCount = 0;
    int32_t m_pointCount = 0;
    int32_t m_linkCount = 0;
    int32_t m_polylineCount = 0;
    int32_t m_vertexCount = 0;
    int32_t m_imageWidth = 0;
    int32_t m_imageHeight = 0;
};
