import java.io.ByteArrayOutputStream;
import java.io.FileReader;
import java.io.FileWriter;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.math.BigInteger;
import java.net.HttpURLConnection;
import java.net.URL;
import java.nio.charset.StandardCharsets;
import java.security.SecureRandom;
import java.security.Security;
import java.util.Arrays;
import java.util.HashMap;
import java.util.Map;
import org.bouncycastle.asn1.ASN1OctetString;
import org.bouncycastle.asn1.cmp.PKIBody;
import org.bouncycastle.asn1.cmp.PKIFreeText;
import org.bouncycastle.asn1.cmp.PKIHeader;
import org.bouncycastle.asn1.cmp.PKIStatusInfo;
import org.bouncycastle.asn1.x509.GeneralName;
import org.bouncycastle.cert.X509CertificateHolder;
import org.bouncycastle.cert.cmp.ProtectedPKIMessage;
import org.bouncycastle.cert.cmp.ProtectedPKIMessageBuilder;
import org.bouncycastle.cert.crmf.PKMACBuilder;
import org.bouncycastle.cert.crmf.jcajce.JcePKMACValuesCalculator;
import org.bouncycastle.jce.provider.BouncyCastleProvider;
import org.bouncycastle.openssl.PEMParser;
import org.bouncycastle.openssl.jcajce.JcaPEMWriter;

/** What the peer CA and the peer client share: transport, MACs, nonces, PEM files, options. */
final class Peer {
  static final String CONTENT_TYPE = "application/pkixcmp";
  static final SecureRandom RANDOM = new SecureRandom();

  private Peer() {}

  static void init() {
    Security.addProvider(new BouncyCastleProvider());
  }

  /** --name value pairs; a name given without a value is an error. */
  static Map<String, String> options(String[] args) {
    Map<String, String> options = new HashMap<>();
    for (int i = 0; i < args.length; i += 2) {
      if (!args[i].startsWith("--") || i + 1 >= args.length) {
        throw new IllegalArgumentException("expected --name value, got " + args[i]);
      }
      options.put(args[i].substring(2), args[i + 1]);
    }
    return options;
  }

  static String required(Map<String, String> options, String name) {
    String value = options.get(name);
    if (value == null) {
      throw new IllegalArgumentException("missing --" + name);
    }
    return value;
  }

  static byte[] nonce() {
    byte[] bytes = new byte[16];
    RANDOM.nextBytes(bytes);
    return bytes;
  }

  static boolean sameOctets(ASN1OctetString octets, byte[] expected) {
    return octets != null && Arrays.equals(octets.getOctets(), expected);
  }

  static String utf8(ASN1OctetString octets) {
    return octets == null ? "" : new String(octets.getOctets(), StandardCharsets.UTF_8);
  }

  /**
   * A PBM calculator: SHA-1 as one-way function, HMAC-SHA1, no ceiling on the iteration count
   * (each habit decides its own limit before verifying); a request's own parameters replace
   * these when it is verified.
   */
  static PKMACBuilder pbm() {
    return new PKMACBuilder(new JcePKMACValuesCalculator().setProvider("BC"));
  }

  /** Header fields that both sides fill the same way: transaction and nonces. */
  static ProtectedPKIMessageBuilder builder(GeneralName sender, GeneralName recipient,
      byte[] transaction, byte[] nonce, byte[] recipNonce) {
    ProtectedPKIMessageBuilder builder =
        new ProtectedPKIMessageBuilder(PKIHeader.CMP_2000, sender, recipient)
            .setTransactionID(transaction)
            .setSenderNonce(nonce)
            .setMessageTime(new java.util.Date());
    if (recipNonce != null) {
      builder.setRecipNonce(recipNonce);
    }
    return builder;
  }

  /** The status texts of a PKIStatusInfo, joined; empty when it has none. */
  static String statusText(PKIStatusInfo info) {
    StringBuilder text = new StringBuilder();
    PKIFreeText strings = info == null ? null : info.getStatusString();
    for (int i = 0; strings != null && i < strings.size(); ++i) {
      if (text.length() > 0) {
        text.append("; ");
      }
      text.append(strings.getStringAtUTF8(i).getString());
    }
    return text.toString();
  }

  static String typeName(int type) {
    switch (type) {
      case PKIBody.TYPE_INIT_REQ:
        return "ir";
      case PKIBody.TYPE_INIT_REP:
        return "ip";
      case PKIBody.TYPE_CERT_REQ:
        return "cr";
      case PKIBody.TYPE_CERT_REP:
        return "cp";
      case PKIBody.TYPE_P10_CERT_REQ:
        return "p10cr";
      case PKIBody.TYPE_CERT_CONFIRM:
        return "certConf";
      case PKIBody.TYPE_CONFIRM:
        return "pkiConf";
      case PKIBody.TYPE_ERROR:
        return "error";
      default:
        return "body type " + type;
    }
  }

  /** POSTs one DER message and returns the DER answer; HTTP failures are exceptions. */
  static byte[] post(String url, byte[] message) throws IOException {
    HttpURLConnection connection = (HttpURLConnection) new URL(url).openConnection();
    connection.setRequestMethod("POST");
    connection.setDoOutput(true);
    connection.setConnectTimeout(10_000);
    connection.setReadTimeout(30_000);
    connection.setRequestProperty("Content-Type", CONTENT_TYPE);
    try (OutputStream out = connection.getOutputStream()) {
      out.write(message);
    }
    int code = connection.getResponseCode();
    if (code != 200) {
      throw new IOException("HTTP " + code + " from " + url);
    }
    String type = connection.getContentType();
    if (type == null || !type.toLowerCase().startsWith(CONTENT_TYPE)) {
      throw new IOException("answer of content type " + type + " from " + url);
    }
    try (InputStream in = connection.getInputStream()) {
      return readAll(in);
    }
  }

  static byte[] readAll(InputStream in) throws IOException {
    ByteArrayOutputStream bytes = new ByteArrayOutputStream();
    in.transferTo(bytes);
    return bytes.toByteArray();
  }

  static void writePem(String path, Object object) throws IOException {
    try (JcaPEMWriter writer = new JcaPEMWriter(new FileWriter(path, StandardCharsets.US_ASCII))) {
      writer.writeObject(object);
    }
  }

  static X509CertificateHolder readCertificate(String path) throws IOException {
    try (PEMParser parser = new PEMParser(new FileReader(path, StandardCharsets.US_ASCII))) {
      Object object = parser.readObject();
      if (!(object instanceof X509CertificateHolder)) {
        throw new IOException(path + " holds no PEM certificate");
      }
      return (X509CertificateHolder) object;
    }
  }

  static BigInteger serial() {
    return new BigInteger(64, RANDOM).setBit(62);
  }

  /** Whether the message's MAC verifies with `secret` (any exception: it does not). */
  static boolean macVerifies(ProtectedPKIMessage message, String secret) {
    try {
      return message.verify(pbm(), secret.toCharArray());
    } catch (Exception e) {
      return false;
    }
  }
}
