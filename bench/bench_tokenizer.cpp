// The tokenizer alone over one document: every token of a pass, the file
// read through the same window as the reader reads it. Prints the fastest
// of five passes, so that a busy machine shows less in the figure.
//   bench_tokenizer FILE

#include "bench/FileArgument.h"
#include "mzml/ByteSource.h"
#include "mzml/MzmlFault.h"
#include "mzml/XmlTokenizer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <algorithm>

int main(int argc, char *argv[])
{
    const std::optional<QString> file = FileArgument(argc, argv, "bench_tokenizer");
    if (!file)
        return 2;
    QTextStream out(stdout);
    qint64 fastest = -1;
    qint64 tokens = 0;
    qint64 attributes = 0;
    for (int pass = 0; pass < 5; ++pass) {
        QFile document(*file);
        if (!document.open(QIODevice::ReadOnly)) {
            out << "cannot open " << *file << '\n';
            return 1;
        }
        FileSource source(document);
        QElapsedTimer timer;
        timer.start();
        tokens = attributes = 0;
        try {
            XmlTokenizer tokenizer(source, 0, XmlTokenizer::Scope::Document);
            while (tokenizer.next().kind != XmlToken::Kind::End) {
                ++tokens;
                attributes += qint64(tokenizer.attributes().size());
            }
        } catch (const MzmlFault &fault) {
            out << fault.what << '\n';
            return 1;
        }
        const qint64 elapsed = timer.elapsed();
        fastest = fastest < 0 ? elapsed : std::min(fastest, elapsed);
    }
    out << tokens << " tokens, " << attributes << " attributes: " << fastest << " ms\n";
    return 0;
}
