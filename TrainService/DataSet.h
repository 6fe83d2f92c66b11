#pragma once

#include "TrainService/SampleTypes.h"

#include <QString>
#include <QStringList>

#include <vector>

// The annotated images of a project folder: every image with an annotation file beside it (same
// folder, base name + ".json"). Titles outside the class list are ignored and logged; an image that
// cannot be read is skipped and logged.
class DataSet
{
public:
    // Image files (JPEG, PNG, BMP, TIFF) below folder, in path order.
    static QStringList ImageFiles(const QString& folder);
    // Reads one annotation file into sample.shapes (classes by their index in classes); false when the
    // file is missing or not an annotation object. unknownTitles counts the shapes left out.
    static bool ReadAnnotation(const QString& jsonPath, const QStringList& classes, trainsvc::Sample& sample,
                               int& unknownTitles);

    // Collects the annotated, readable images below folder.
    void Load(const QString& folder, const QStringList& classes);
    // Splits the samples into training and validation parts with a fixed seed; the validation part
    // holds at least one image whenever there are two or more.
    void Split(double trainPercent, unsigned seed, std::vector<trainsvc::Sample>& train,
               std::vector<trainsvc::Sample>& val) const;

    const std::vector<trainsvc::Sample>& Samples() const { return m_samples; }
    int Skipped() const { return m_skipped; }
    // SHA-256 (hex) over the loaded images in path order: each one's path relative to the folder, its
    // file size and its annotation file's bytes. Moving the project keeps it; any change of data does not.
    QString Fingerprint() const { return m_fingerprint; }
    int UnknownTitles() const { return m_unknownTitles; }

private:
    std::vector<trainsvc::Sample> m_samples;
    int m_skipped = 0;
    int m_unknownTitles = 0;
    QString m_fingerprint;
};
