#pragma once

#include "CaptureResult.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace kelvo {

// What reads one picture of a card for the capture window, without ever
// blocking it: start() returns at once and finished() follows later (also
// for a picture that cannot be read: its result carries the error). One
// picture at a time; a new start() or cancel() drops the one under way, whose
// result never arrives.
class CardCapturer : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QString path;
        // Horizontal lines or a vertical card; Auto lets the reader tell.
        enum class Layout { Auto, Horizontal, Vertical };
        Layout layout = Layout::Auto;
        int rotation = -1;     // clockwise degrees to turn the picture first; -1: find out
    };

    using QObject::QObject;

    virtual void start(const Request &request) = 0;
    virtual void cancel() = 0;

Q_SIGNALS:
    void finished(const QString &path, const kelvo::capture::CaptureResult &result);
};

// Makes the capturer of one capture window.
using CardCapturerFactory = std::function<std::unique_ptr<CardCapturer>()>;

// The program's capturer: the recogniser in a helper process, so that a
// crash in it never takes the program down and the window stays live.
std::unique_ptr<CardCapturer> makeProcessCardCapturer();

} // namespace kelvo
