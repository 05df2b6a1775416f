// MD5 of a text (UTF-8) as 32 lowercase hex digits.
function md5Hex(text) {
  var bytes = unescape(encodeURIComponent(text));
  var n = bytes.length;
  var words = [];
  for (var i = 0; i < n; i++) words[i >> 2] |= (bytes.charCodeAt(i) & 0xff) << ((i % 4) * 8);
  words[n >> 2] |= 0x80 << ((n % 4) * 8);
  var total = (((n + 8) >> 6) + 1) * 16;
  for (var k = (n >> 2) + 1; k < total; k++) words[k] = words[k] | 0;
  words[total - 2] = n * 8;
  var S = [7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21];
  var K = [];
  for (var t = 0; t < 64; t++) K[t] = Math.floor(Math.abs(Math.sin(t + 1)) * 4294967296) | 0;
  var a0 = 0x67452301, b0 = 0xefcdab89 | 0, c0 = 0x98badcfe | 0, d0 = 0x10325476;
  for (var blk = 0; blk < total; blk += 16) {
    var a = a0, b = b0, c = c0, d = d0;
    for (var j = 0; j < 64; j++) {
      var f, g, r = j >> 4;
      if (r === 0) { f = (b & c) | (~b & d); g = j; }
      else if (r === 1) { f = (d & b) | (~d & c); g = (5 * j + 1) % 16; }
      else if (r === 2) { f = b ^ c ^ d; g = (3 * j + 5) % 16; }
      else { f = c ^ (b | ~d); g = (7 * j) % 16; }
      var s = S[r * 4 + (j % 4)];
      var x = (a + f + K[j] + words[blk + g]) | 0;
      a = d; d = c; c = b;
      b = (b + ((x << s) | (x >>> (32 - s)))) | 0;
    }
    a0 = (a0 + a) | 0; b0 = (b0 + b) | 0; c0 = (c0 + c) | 0; d0 = (d0 + d) | 0;
  }
  var hex = "";
  [a0, b0, c0, d0].forEach(function (w) {
    for (var q = 0; q < 4; q++) hex += ((w >>> (q * 8)) & 0xff).toString(16).padStart(2, "0");
  });
  return hex;
}
