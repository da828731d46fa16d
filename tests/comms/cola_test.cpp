// The trace queue: order, the ring's wrap-around, a full ring that drops and
// counts instead of overwriting, and one producer with one consumer on two threads.
#include "comms/Tcola.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

Tmensaje* record(int n) {
    auto* m = new Tmensaje;
    m->fnbytes = n;
    return m;
}

// Reads one record, checks its number and releases it.
void expectNext(Tcola_mensaje& q, int n) {
    ASSERT_TRUE(q.hay_mensajes());
    ASSERT_NE(q.primero(), nullptr);
    EXPECT_EQ(q.primero()->fnbytes, n);
    std::unique_ptr<Tmensaje> m(q.leer());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->fnbytes, n);
}

TEST(TraceQueue, NewQueueIsEmptyAndTheFirstRecordStaysUntilRead) {
    Tcola_mensaje q;
    EXPECT_FALSE(q.hay_mensajes());
    EXPECT_EQ(q.primero(), nullptr);
    EXPECT_EQ(q.leer(), nullptr); // reading an empty queue yields nothing, moves nothing
    EXPECT_EQ(q.frente(), 0);

    Tmensaje* m = record(1);
    ASSERT_TRUE(q.add(m));
    EXPECT_EQ(q.primero(), m);
    EXPECT_EQ(q.primero(), m);
    EXPECT_TRUE(q.hay_mensajes());
    std::unique_ptr<Tmensaje> taken(q.leer());
    EXPECT_EQ(taken.get(), m);
    EXPECT_FALSE(q.hay_mensajes());
}

TEST(TraceQueue, IndicesWrapAfterTheLastOfThe5001Slots) {
    Tcola_mensaje q;
    for (int i = 0; i <= MAX_MENSAJES; ++i) {
        ASSERT_TRUE(q.add(record(i)));
        expectNext(q, i);
    }
    EXPECT_EQ(q.frente(), 0);
    EXPECT_EQ(q.final_(), 0);
    EXPECT_FALSE(q.hay_mensajes());
    // And the ring keeps working across the wrap.
    ASSERT_TRUE(q.add(record(7)));
    ASSERT_TRUE(q.add(record(8)));
    expectNext(q, 7);
    expectNext(q, 8);
}

TEST(TraceQueue, FullRingDropsAndCountsNewRecordsInsteadOfOverwriting) {
    Tcola_mensaje q;
    for (int i = 0; i < MAX_MENSAJES; ++i)
        ASSERT_TRUE(q.add(record(i)));
    // 5000 unread: the ring is full and must not read as empty.
    EXPECT_TRUE(q.hay_mensajes());
    EXPECT_FALSE(q.add(record(-1)));
    EXPECT_FALSE(q.add(record(-2)));
    EXPECT_EQ(q.descartados(), 2u);
    EXPECT_EQ(q.tomar_descartados(), 2u);
    EXPECT_EQ(q.tomar_descartados(), 0u);
    expectNext(q, 0);
    ASSERT_TRUE(q.add(record(MAX_MENSAJES))); // room again
    for (int i = 1; i <= MAX_MENSAJES; ++i)
        expectNext(q, i);
    EXPECT_FALSE(q.hay_mensajes());
}

TEST(TraceQueueThread, OneProducerOneConsumerKeepOrderAndLoseNothingUncounted) {
    Tcola_mensaje q;
    constexpr int kTotal = 30000; // several times round the ring, with overruns likely
    std::thread producer([&q] {
        for (int i = 0; i < kTotal; ++i)
            q.add(record(i));
    });
    int last = -1;
    int read = 0;
    bool ordered = true;
    auto drain = [&] {
        while (q.hay_mensajes()) {
            Tmensaje* first = q.primero();
            std::unique_ptr<Tmensaje> m(q.leer());
            ordered = ordered && m && m.get() == first && m->fnbytes > last;
            last = m ? m->fnbytes : last;
            ++read;
        }
    };
    while (last < kTotal - 1 && read + static_cast<int>(q.descartados()) < kTotal)
        drain();
    producer.join();
    drain();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(read + static_cast<int>(q.tomar_descartados()), kTotal);
}

} // namespace
