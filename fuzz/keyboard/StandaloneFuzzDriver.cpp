// Runs a fuzz target without libFuzzer (for compilers that lack it): every seed
// file, then a bounded number of random mutations of them (byte flips, inserts,
// deletions, splices), with a fixed seed so a failure repeats.
//   MicrophoneMappingFuzzer [-runs=N] [-seed=S] <seed files or folders>...
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void run(const QByteArray& input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.constData()),
                           size_t(input.size()));
}

QByteArray mutate(QByteArray input, const std::vector<QByteArray>& seeds, std::mt19937_64& random) {
    const int steps = 1 + int(random() % 4);
    for (int i = 0; i < steps; ++i) {
        const qsizetype size = input.size();
        switch (random() % 5) {
        case 0:
            if (size > 0)
                input[qsizetype(random() % size)] = char(random());
            break;
        case 1:
            input.insert(size > 0 ? qsizetype(random() % (size + 1)) : 0, char(random()));
            break;
        case 2:
            if (size > 0)
                input.remove(qsizetype(random() % size), qsizetype(1 + random() % 8));
            break;
        case 3: {
            const QByteArray& other = seeds[random() % seeds.size()];
            if (!other.isEmpty()) {
                const qsizetype from = qsizetype(random() % other.size());
                input.insert(size > 0 ? qsizetype(random() % (size + 1)) : 0,
                             other.mid(from, qsizetype(1 + random() % 32)));
            }
            break;
        }
        default:
            if (size > 0)
                input.truncate(qsizetype(random() % size));
        }
    }
    return input;
}

} // namespace

int main(int argc, char** argv) {
    long long runs = 200000;
    unsigned long long seed = 1;
    std::vector<QByteArray> seeds;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("-runs=", 0) == 0) {
            runs = std::stoll(arg.substr(6));
            continue;
        }
        if (arg.rfind("-seed=", 0) == 0) {
            seed = std::stoull(arg.substr(6));
            continue;
        }
        if (!arg.empty() && arg[0] == '-')
            continue; // libFuzzer options this driver does not have
        const QString path = QString::fromLocal8Bit(argv[i]);
        QStringList files;
        if (QFileInfo(path).isDir()) {
            for (QDirIterator it(path, QDir::Files); it.hasNext();)
                files.append(it.next());
        } else {
            files.append(path);
        }
        for (const QString& file : files) {
            QFile f(file);
            if (f.open(QIODevice::ReadOnly))
                seeds.push_back(f.readAll());
        }
    }
    if (seeds.empty())
        seeds.push_back(QByteArray());
    for (const QByteArray& s : seeds)
        run(s);
    std::mt19937_64 random(seed);
    for (long long i = 0; i < runs; ++i)
        run(mutate(seeds[random() % seeds.size()], seeds, random));
    std::printf("Done %lld runs over %zu seeds\n", runs, seeds.size());
    return 0;
}
