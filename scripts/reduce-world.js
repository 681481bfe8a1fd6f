// reduce-world.js TOPOJSON ISO3166JSON OUT — writes the traffic map's country table from Natural Earth's
// admin-0 countries as world-atlas ships them (TopoJSON, ISO numeric ids): for each country with an
// ISO 3166-1 code, its alpha-2 code, short name, polygon rings of [lng, lat] pairs (two decimals) and a
// label position (the centroid of its largest ring) as [lat, lng].
'use strict';
const fs = require('fs');

const [topologyPath, isoPath, outPath] = process.argv.slice(2);
if (!outPath) {
  console.error('usage: reduce-world.js TOPOJSON ISO3166JSON OUT');
  process.exit(2);
}
const topology = JSON.parse(fs.readFileSync(topologyPath, 'utf8'));
const alpha2 = new Map(JSON.parse(fs.readFileSync(isoPath, 'utf8'))['3166-1'].map((c) => [c.numeric, c.alpha_2]));

const [sx, sy] = topology.transform.scale;
const [tx, ty] = topology.transform.translate;
const round = (v) => Math.round(v * 100) / 100;
const arcs = topology.arcs.map((arc) => {
  let x = 0;
  let y = 0;
  return arc.map(([dx, dy]) => {
    x += dx;
    y += dy;
    return [round(x * sx + tx), round(y * sy + ty)];
  });
});

function ring(indexes) {
  const points = [];
  for (const index of indexes) {
    const arc = index < 0 ? arcs[~index].slice().reverse() : arcs[index];
    points.push(...(points.length ? arc.slice(1) : arc));
  }
  return points;
}

// Signed area and centroid of a ring (planar, in degrees).
function centroid(points) {
  let area = 0;
  let cx = 0;
  let cy = 0;
  for (let i = 0, j = points.length - 1; i < points.length; j = i++) {
    const cross = points[j][0] * points[i][1] - points[i][0] * points[j][1];
    area += cross;
    cx += (points[j][0] + points[i][0]) * cross;
    cy += (points[j][1] + points[i][1]) * cross;
  }
  if (area === 0) return { area: 0, lng: points[0][0], lat: points[0][1] };
  return { area: Math.abs(area / 2), lng: cx / (3 * area), lat: cy / (3 * area) };
}

const countries = [];
for (const geometry of topology.objects.countries.geometries) {
  const iso = alpha2.get(geometry.id);
  if (!iso || !geometry.arcs) continue;
  const polygons = geometry.type === 'Polygon' ? [geometry.arcs] : geometry.arcs;
  const rings = polygons.flatMap((polygon) => polygon.map(ring));
  const largest = polygons.map((polygon) => centroid(ring(polygon[0]))).sort((a, b) => b.area - a.area)[0];
  countries.push({ iso, name: geometry.properties.name, rings, label: [round(largest.lat), round(largest.lng)] });
}
countries.sort((a, b) => (a.iso < b.iso ? -1 : 1));
fs.writeFileSync(outPath, JSON.stringify(countries));
