#include "CardCapturer.h"

#include "CaptureProcess.h"

namespace kelvo {

namespace {

// One helper process per picture: a new request stops the one under way.
class ProcessCardCapturer final : public CardCapturer
{
public:
    ProcessCardCapturer()
    {
        connect(&m_process, &capture::CaptureProcess::cardRead, this, &CardCapturer::finished);
    }

    void start(const Request &request) override
    {
        m_process.cancel();
        capture::OcrOptions options;
        using Layout = capture::OcrOptions::Layout;
        options.layout = request.layout == Request::Layout::Vertical     ? Layout::Vertical
            : request.layout == Request::Layout::Horizontal ? Layout::Horizontal
                                                            : Layout::Auto;
        if (request.rotation >= 0) {
            options.rotation = request.rotation;
            options.detectOrientation = false;
        }
        if (!m_process.start({request.path}, options)) {
            capture::CaptureResult failed;
            failed.error = QStringLiteral("识别程序无法启动。");
            // After start() has returned, as a reading's result would come.
            QMetaObject::invokeMethod(
                this, [this, path = request.path, failed] { emit finished(path, failed); }, Qt::QueuedConnection);
        }
    }

    void cancel() override { m_process.cancel(); }

private:
    capture::CaptureProcess m_process;
};

} // namespace

std::unique_ptr<CardCapturer> makeProcessCardCapturer()
{
    return std::make_unique<ProcessCardCapturer>();
}

} // namespace kelvo
