#include <chrono>
#include <iostream>
#include <gtest/gtest.h>
#include "tree/plan_runner.hpp"
#include "tree/random_plans.hpp"
namespace holvar::txn::tree::testing {
TEST(ZZTiming, Parts) {
    using C = std::chrono::steady_clock;
    double t_fresh = 0, t_build = 0, t_plan = 0, t_place = 0, t_back = 0, t_json = 0, t_load = 0, t_snap = 0;
    for (uint64_t seed = 0; seed < 20; ++seed) {
        auto a = C::now();
        TreeMachine m;
        auto b = C::now();
        build_random_trees(m, seed);
        auto c = C::now();
        auto plan = plan_of(m);
        auto d = C::now();
        auto j = m.machine().to_json();
        auto e = C::now();
        auto loaded = sim::Machine::from_json(j);
        auto f = C::now();
        Snapshot s = m.snapshot(kRoot);
        auto g = C::now();
        place_all(m.os(), m.layout(), plan.ops);
        auto h = C::now();
        roll_back_all(m.os(), m.layout(), plan.ops);
        auto i = C::now();
        auto ms = [](auto x, auto y) { return std::chrono::duration<double, std::milli>(y - x).count(); };
        t_fresh += ms(a, b); t_build += ms(b, c); t_plan += ms(c, d); t_json += ms(d, e); t_load += ms(e, f);
        t_snap += ms(f, g); t_place += ms(g, h); t_back += ms(h, i);
    }
    std::cout << "fresh " << t_fresh / 20 << " build " << t_build / 20 << " plan " << t_plan / 20 << " json " << t_json / 20
              << " load " << t_load / 20 << " snap " << t_snap / 20 << " place " << t_place / 20 << " back " << t_back / 20 << "\n";
}
}
