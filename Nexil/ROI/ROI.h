#pragma once

// Geometry side of an annotation shape. kind() tells the shapes apart without RTTI, so code on
// either side of the library boundary can check a ROI's shape even where type identity differs.
class ROI
{
public:
    enum Kind
    {
        KindNone = 0,
        KindRect = 1,
        KindPolygon = 16,
    };

    ROI() = default;
    ROI(const ROI&) = default;
    ROI& operator=(const ROI&) = default;
    virtual ~ROI();

    virtual int kind() const;
};
