#ifndef RECORDWRITER_H
#define RECORDWRITER_H

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <thread>

// Appends the flash record's rows to its file on a thread of its own, so that
// a disk that is full, slow or hung never holds up a flash. Rows are written
// in the order they came, each whole; those that cannot be written wait and
// are tried again with the next row, and once more at the end.
class RecordWriter : public QObject
{
    Q_OBJECT

public:
    // header: the first line of a file that is new.
    RecordWriter(const QString &path, const QByteArray &header, QObject *parent = nullptr);
    // Makes the last attempt (finish()) if it has not been made.
    ~RecordWriter() override;

    void append(const QByteArray &row);

    // The last attempt, for the rows that wait: it waits for the writer until
    // the deadline, or until interrupted() says the operator asked to stop
    // waiting. Returns how many rows are not in the file (0: all are), and
    // why in *reason. The writer's thread has ended then, except where the
    // disk did not answer by the deadline: that thread is left to end with
    // the process, and touches nothing of ours when it does.
    int finish(QDeadlineTimer deadline, const std::function<bool()> &interrupted, QString *reason);

signals:
    // Every row so far is in the file.
    void written();
    // The latest attempt failed: why, and how many rows wait.
    void writeFailed(const QString &reason, int waiting);

private:
    struct Shared;
    static void writeRows(const std::shared_ptr<Shared> &shared);

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    bool m_finished = false;
};

#endif // RECORDWRITER_H
