// Time per call of the pure cores, in microseconds: the reference computation of one sampling
// run, reading and writing a coin data file, and decoding and encoding every setting of an
// image (what opening and closing the settings form costs). Standard library only.
//
//   cores_bench
#include "bench_row.h"

#include "image/coin_data_file.h"
#include "image/default_image.h"
#include "image/parameter_image.h"
#include "image/settings_model.h"
#include "sampling/channel_reference.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using namespace quarvel;

namespace {

// Keeps results alive so the optimiser cannot drop the work.
volatile std::uint64_t g_sink = 0;

// Mean microseconds per call over about a fifth of a second.
template <typename Work> double usPerCall(Work work)
{
    using Clock = std::chrono::steady_clock;
    long calls = 0;
    const auto start = Clock::now();
    auto elapsed = Clock::duration::zero();
    while (elapsed < std::chrono::milliseconds(200)) {
        for (int i = 0; i < 64; ++i)
            g_sink = g_sink + work();
        calls += 64;
        elapsed = Clock::now() - start;
    }
    return std::chrono::duration<double, std::micro>(elapsed).count() / static_cast<double>(calls);
}

void report(const char* figure, double us)
{
    std::printf("%-44s %9.2f us\n", figure, us);
    bench::printRow(figure, "report", bench::format("%.2f us", us));
}

} // namespace

int main()
{
    // Twelve coins as a run collects them, with a little spread.
    std::array<float, 12> a{};
    std::array<std::int16_t, 12> x{}, y{}, dh{};
    for (int i = 0; i < 12; ++i) {
        a[i] = 5000.0F + static_cast<float>((i * 37) % 23);
        x[i] = static_cast<std::int16_t>(40 + (i * 7) % 5);
        y[i] = static_cast<std::int16_t>(41 + (i * 5) % 4);
        dh[i] = static_cast<std::int16_t>(48 + (i * 3) % 6);
    }
    report("reference computation (12 coins)", usPerCall([&] {
               const auto r = sampling::ChannelReference::compute(a, x, y, dh);
               return static_cast<std::uint64_t>(r ? r->aReference : 0);
           }));

    ParameterImage image;
    loadSettingsDefault(image);
    const std::string file = serializeCoinData(image);
    report("coin data file write (256 cells)", usPerCall([&] { return serializeCoinData(image).size(); }));
    report("coin data file read (256 cells)", usPerCall([&] {
               ParameterImage loaded;
               return static_cast<std::uint64_t>(loadCoinData(file, loaded));
           }));

    const auto fields = allFields();
    report("settings decode (every field of an image)", usPerCall([&] {
               std::uint64_t sum = 0;
               for (const SettingField& f : fields)
                   sum += static_cast<std::uint64_t>(fieldValue(image, f));
               return sum;
           }));
    std::vector<int> values;
    for (const SettingField& f : fields)
        values.push_back(fieldValue(image, f));
    ParameterImage target = image;
    report("settings encode (every field of an image)", usPerCall([&] {
               for (std::size_t i = 0; i < fields.size(); ++i)
                   setFieldValue(target, fields[i], values[i]);
               return target.text(0).size();
           }));
    return 0;
}
