#pragma once

#include <QFile>
#include <QtGlobal>

// Where a tokenizer's bytes come from, in document order.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Up to size bytes into data; 0 at the end. Throws MzmlFault or Error.
    virtual qint64 read(char *data, qint64 size) = 0;
    // The document offset where the bytes end now; -1 when the source cannot
    // tell. A file may have been cut since it was read this far.
    virtual qint64 end() const { return -1; }
    // How far into its file the bytes given so far have read it; -1 when
    // the source cannot tell.
    virtual qint64 position() const { return -1; }
    // Whether the bytes ended at a cut made for a pass in two halves, not
    // at the document's end.
    virtual bool endsAtCut() const { return false; }
};

// Another source's bytes up to a cut: the first half of a pass in two.
class CutSource : public ByteSource
{
public:
    CutSource(ByteSource &source, qint64 cut) : m_source(source), m_left(cut) {}
    qint64 read(char *data, qint64 size) override;
    qint64 position() const override { return m_source.position(); }
    bool endsAtCut() const override { return m_left == 0; }

private:
    ByteSource &m_source;
    qint64 m_left;
};

// The bytes of a file from its current position on.
class FileSource : public ByteSource
{
public:
    explicit FileSource(QFile &file) : m_file(file) {}
    qint64 read(char *data, qint64 size) override;
    qint64 end() const override { return m_file.size(); }
    qint64 position() const override { return m_file.pos(); }

private:
    QFile &m_file;
};
