#include "support/hand_over.h"

#include "design/unit4.h"
#include "shell/unit1.h"

#include <QTest>

namespace krepiks::test {

bool HandOverToDesignWindow() {
    if (!Form1 || !Form4)
        return false;
    Form1->show();
    // A bound for a stalled run, not a timing the result depends on.
    return QTest::qWaitFor(
        [] { return Form1->timerTicks() > 0 && !Form1->isVisible() && Form4->isActiveWindow(); },
        60000);
}

} // namespace krepiks::test
