// The reader's full pass over one acquisition: open, sample header, spectrum
// index, every spectrum's points decoded.
//   bench_reader FILE

#include "bench/FileArgument.h"
#include "convert/Errors.h"
#include "convert/RawFileAccess.h"
#include "mzml/MzmlDocument.h"

#include <QElapsedTimer>
#include <QTextStream>

int main(int argc, char *argv[])
{
    const std::optional<QString> file = FileArgument(argc, argv, "bench_reader");
    if (!file)
        return 2;
    InstallMzmlReader();
    QTextStream out(stdout);
    try {
        QElapsedTimer timer;
        timer.start();
        const std::unique_ptr<RawFileDocument> document = CreateRawFileDocument();
        document->Open(*file);
        const QString sample = document->SampleInfo()->SampleName();
        document->FileHeader()->CreationDate();
        const qint64 opened = timer.elapsed();
        const std::unique_ptr<DetectorChannel> detector = document->Detector(0, 1);
        const std::unique_ptr<SpectrumCollection> spectra = detector->Spectra(0);
        const qint32 count = spectra->Count();
        const qint64 indexed = timer.elapsed();
        qint64 points = 0;
        double sum = 0;
        for (qint32 n = 1; n <= count; ++n) {
            sum += spectra->StartTime(n) + detector->Filters()->ScanNumber(n)->Text().size();
            const SpectrumPoints p = spectra->Item(n)->Points();
            points += qint64(p.masses.size());
            for (size_t i = 0; i < p.masses.size(); ++i)
                sum += p.masses[i] + p.intensities[i];
        }
        document->Close();
        out << "sample header: " << opened << " ms, index of " << count << " spectra: " << indexed - opened
            << " ms, all " << points << " points: " << timer.elapsed() << " ms in total (checksum " << sum << ")\n";
    } catch (const Error &error) {
        out << error.description() << '\n';
        return 1;
    }
    return 0;
}
