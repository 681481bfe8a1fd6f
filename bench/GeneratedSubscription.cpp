#include "GeneratedSubscription.h"

#include <QList>

namespace tarnwick::bench {

QByteArray generatedSubscription()
{
    static const QByteArray yaml = [] {
        const char* regions[] = {"🇭🇰 香港", "🇯🇵 日本", "🇺🇸 美国", "🇸🇬 新加坡", "🇹🇼 台湾", "🇰🇷 韩国"};
        const char* types[] = {"vmess", "trojan", "ss", "vless"};
        QByteArray out = "mixed-port: 7890\nallow-lan: false\nmode: rule\nlog-level: info\nproxies:\n";
        QList<QByteArray> names;
        for (int i = 0; i < 20000; ++i) {
            const QByteArray number = QByteArray::number(i).rightJustified(5, '0');
            const QByteArray name = QByteArray(regions[i % 6]) + ' ' + number + " | 专线";
            const QByteArray host = "node" + number + ".cdn-node.net";
            names.append(name);
            out += "  - {name: " + name + ", server: " + host +
                   ", port: " + QByteArray::number(20000 + i % 40000) + ", type: " + types[i % 4] +
                   ", uuid: 3a966d1c-7c5e-4b1f-9a0d-" + number + ", network: ws, ws-opts: {path: /ray}}\n";
        }
        out += "proxy-groups:\n  - name: 🚀 节点选择\n    type: select\n    proxies:\n";
        for (const QByteArray& name : names)
            out += "      - " + name + "\n";
        out += "rules:\n";
        for (int i = 0; i < 30000; ++i) {
            const QByteArray number = QByteArray::number(i);
            switch (i % 3) {
            case 0:
                out += "  - DOMAIN-SUFFIX,site" + number + ".example.com,🚀 节点选择\n";
                break;
            case 1:
                out += "  - IP-CIDR,10." + QByteArray::number(i / 256 % 256) + '.' +
                       QByteArray::number(i % 256) + ".0/24,DIRECT,no-resolve\n";
                break;
            default:
                out += "  - DOMAIN-KEYWORD,keyword" + number + ",REJECT\n";
            }
        }
        out += "  - MATCH,🚀 节点选择\n";
        return out;
    }();
    return yaml;
}

} // namespace tarnwick::bench
